/* Multi-precision arithmetic of the self-contained crypto module: numbers are arrays of 32-bit
 * words, least significant first, with the word count passed beside them. Working numbers hold
 * at most BIG_MAX_DIGITS words and products twice that; calls with larger counts change nothing
 * (dividends and remainders of Big_Div and Big_Mod may have up to 2 * BIG_MAX_DIGITS words). */
#ifndef MORVA_BIG_NUM_H
#define MORVA_BIG_NUM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t BIG_DIGIT;

enum { BIG_MAX_DIGITS = 33, BIG_DIGIT_BITS = 32 };

/* Big-endian bytes, right-aligned in a field of iLen bytes, to words and back. */
void Big_Decode(BIG_DIGIT *a, int iDigits, const uint8_t *pBytes, int iLen);
void Big_Encode(uint8_t *pBytes, int iLen, const BIG_DIGIT *a, int iDigits);

void Big_Assign(BIG_DIGIT *a, const BIG_DIGIT *b, int iDigits);
void Big_Zero(BIG_DIGIT *a, int iDigits);
/* a = 2^k; 0 when 2^k does not fit in iDigits words. */
void Big_Assign2Exp(BIG_DIGIT *a, unsigned k, int iDigits);

/* a = b + c, giving the carry; a = b - c, giving the borrow. */
BIG_DIGIT Big_Add(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, int iDigits);
BIG_DIGIT Big_Sub(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, int iDigits);
/* a (2 * iDigits words) = b * c. */
void Big_Mult(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, int iDigits);
/* a = b << c or b >> c for c below 32, giving the bits shifted out. */
BIG_DIGIT Big_LShift(BIG_DIGIT *a, const BIG_DIGIT *b, unsigned c, int iDigits);
BIG_DIGIT Big_RShift(BIG_DIGIT *a, const BIG_DIGIT *b, unsigned c, int iDigits);

/* q (iCDigits words) = c / d, r (iDDigits words) = c mod d. A zero divisor gives 0 and 0. */
void Big_Div(BIG_DIGIT *q, BIG_DIGIT *r, const BIG_DIGIT *c, int iCDigits, const BIG_DIGIT *d, int iDDigits);
/* a (iCDigits words) = b mod c. */
void Big_Mod(BIG_DIGIT *a, const BIG_DIGIT *b, int iBDigits, const BIG_DIGIT *c, int iCDigits);
/* a = b * c mod d. */
void Big_ModMult(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, const BIG_DIGIT *d, int iDigits);
/* a (iDDigits words) = b^c mod d, b having iDDigits words. */
void Big_ModExp(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, int iCDigits, const BIG_DIGIT *d,
                int iDDigits);
/* a = b^-1 mod c, for b and c without a common factor. */
void Big_ModInv(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, int iDigits);
/* a = gcd(b, c). */
void Big_Gcd(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, int iDigits);

/* 1, 0 or -1 as a is above, equal to or below b. */
int Big_Cmp(const BIG_DIGIT *a, const BIG_DIGIT *b, int iDigits);
int Big_IsZero(const BIG_DIGIT *a, int iDigits);
/* Significant bits, significant words, and significant bits of one word. */
unsigned Big_Bits(const BIG_DIGIT *a, int iDigits);
unsigned Big_Digits(const BIG_DIGIT *a, int iDigits);
unsigned Word_Bits(BIG_DIGIT a);

/* a[1]:a[0] = b * c. */
void Word_Mult(BIG_DIGIT a[2], BIG_DIGIT b, BIG_DIGIT c);
/* a = b - c * w over iDigits words, giving the borrow word. */
BIG_DIGIT Big_WordMultSub(BIG_DIGIT *a, const BIG_DIGIT *b, const BIG_DIGIT *c, BIG_DIGIT w, int iDigits);

int Mem_Compare(const void *a, const void *b, size_t uLen);
void Mem_Copy(void *a, const void *b, size_t uLen);
void Mem_Set(void *a, int iValue, size_t uLen);

#ifdef __cplusplus
}
#endif

#endif
