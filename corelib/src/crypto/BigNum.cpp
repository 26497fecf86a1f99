// Schoolbook multi-precision arithmetic on 32-bit words with 64-bit intermediate products.
// Temporaries are wiped before returning: they hold key material during key generation.
#include "morva/MorvaBigNum.h"

#include <cstring>
#include <initializer_list>

namespace {

using Digit = BIG_DIGIT;
static_assert(sizeof(Digit) == 4, "words are 32 bits");

constexpr int kMax = BIG_MAX_DIGITS;

bool Fits(int iDigits, int iLimit = kMax) { return iDigits >= 0 && iDigits <= iLimit; }

template <typename T>
void Wipe(T &buffer) {
    std::memset(&buffer, 0, sizeof(buffer));
}

// a = b + c * w over iDigits words, giving the carry word.
Digit AddWordMult(Digit *a, const Digit *b, Digit w, const Digit *c, int iDigits) {
    uint64_t u64Carry = 0;
    for (int i = 0; i < iDigits; ++i) {
        const uint64_t t = uint64_t(c[i]) * w + b[i] + u64Carry;
        a[i] = static_cast<Digit>(t);
        u64Carry = t >> 32;
    }
    return static_cast<Digit>(u64Carry);
}

// A shift by 0 copies and one by 32 or more is refused; true when nothing is left to do.
bool IsTrivialShift(Digit *a, const Digit *b, unsigned c, int iDigits) {
    if (c == 0) Big_Assign(a, b, iDigits);
    return c == 0 || c >= 32;
}

}  // namespace

extern "C" {

void Big_Decode(Digit *a, int iDigits, const uint8_t *pBytes, int iLen) {
    int i = 0;
    int j = iLen - 1;
    for (; i < iDigits && j >= 0; ++i) {
        Digit t = 0;
        for (unsigned u = 0; j >= 0 && u < 32; --j, u += 8) {
            t |= Digit(pBytes[j]) << u;
        }
        a[i] = t;
    }
    for (; i < iDigits; ++i) {
        a[i] = 0;
    }
}

void Big_Encode(uint8_t *pBytes, int iLen, const Digit *a, int iDigits) {
    int i = 0;
    int j = iLen - 1;
    for (; i < iDigits && j >= 0; ++i) {
        const Digit t = a[i];
        for (unsigned u = 0; j >= 0 && u < 32; --j, u += 8) {
            pBytes[j] = static_cast<uint8_t>(t >> u);
        }
    }
    for (; j >= 0; --j) {
        pBytes[j] = 0;
    }
}

void Big_Assign(Digit *a, const Digit *b, int iDigits) {
    if (iDigits > 0) std::memmove(a, b, sizeof(Digit) * static_cast<size_t>(iDigits));
}

void Big_Zero(Digit *a, int iDigits) {
    if (iDigits > 0) std::memset(a, 0, sizeof(Digit) * static_cast<size_t>(iDigits));
}

void Big_Assign2Exp(Digit *a, unsigned k, int iDigits) {
    Big_Zero(a, iDigits);
    if (k / 32 < static_cast<unsigned>(iDigits > 0 ? iDigits : 0)) {
        a[k / 32] = Digit(1) << (k % 32);
    }
}

Digit Big_Add(Digit *a, const Digit *b, const Digit *c, int iDigits) {
    uint64_t u64Carry = 0;
    for (int i = 0; i < iDigits; ++i) {
        const uint64_t t = uint64_t(b[i]) + c[i] + u64Carry;
        a[i] = static_cast<Digit>(t);
        u64Carry = t >> 32;
    }
    return static_cast<Digit>(u64Carry);
}

Digit Big_Sub(Digit *a, const Digit *b, const Digit *c, int iDigits) {
    Digit borrow = 0;
    for (int i = 0; i < iDigits; ++i) {
        const uint64_t t = uint64_t(b[i]) - c[i] - borrow;
        a[i] = static_cast<Digit>(t);
        borrow = (t >> 63) ? 1 : 0;
    }
    return borrow;
}

void Big_Mult(Digit *a, const Digit *b, const Digit *c, int iDigits) {
    if (!Fits(iDigits)) return;
    Digit t[2 * kMax];
    Big_Zero(t, 2 * iDigits);
    const int iB = static_cast<int>(Big_Digits(b, iDigits));
    const int iC = static_cast<int>(Big_Digits(c, iDigits));
    for (int i = 0; i < iB; ++i) {
        t[i + iC] += AddWordMult(&t[i], &t[i], b[i], c, iC);
    }
    Big_Assign(a, t, 2 * iDigits);
    Wipe(t);
}

Digit Big_LShift(Digit *a, const Digit *b, unsigned c, int iDigits) {
    if (IsTrivialShift(a, b, c, iDigits)) return 0;
    Digit carry = 0;
    for (int i = 0; i < iDigits; ++i) {
        const Digit bi = b[i];
        a[i] = (bi << c) | carry;
        carry = bi >> (32 - c);
    }
    return carry;
}

Digit Big_RShift(Digit *a, const Digit *b, unsigned c, int iDigits) {
    if (IsTrivialShift(a, b, c, iDigits)) return 0;
    Digit carry = 0;
    for (int i = iDigits - 1; i >= 0; --i) {
        const Digit bi = b[i];
        a[i] = (bi >> c) | carry;
        carry = bi << (32 - c);
    }
    return carry;
}

void Big_Div(Digit *q, Digit *r, const Digit *c, int iCDigits, const Digit *d, int iDDigits) {
    if (!Fits(iCDigits, 2 * kMax) || !Fits(iDDigits)) return;
    const int iD = static_cast<int>(Big_Digits(d, iDDigits));
    if (iD == 0) {
        Big_Zero(q, iCDigits);
        Big_Zero(r, iDDigits);
        return;
    }
    Digit cc[2 * kMax + 1];
    Digit dd[kMax];
    // Normalise so that the divisor's top word has its top bit set.
    const unsigned uShift = 32 - Word_Bits(d[iD - 1]);
    Big_Zero(cc, iD);
    cc[iCDigits] = Big_LShift(cc, c, uShift, iCDigits);
    Big_LShift(dd, d, uShift, iD);
    const Digit t = dd[iD - 1];

    Big_Zero(q, iCDigits);
    for (int i = iCDigits - iD; i >= 0; --i) {
        // Dividing by t + 1 underestimates the quotient word; the loop below makes up the rest.
        const uint64_t u64Top = (uint64_t(cc[i + iD]) << 32) | cc[i + iD - 1];
        Digit ai = t == 0xffffffffu ? cc[i + iD] : static_cast<Digit>(u64Top / (uint64_t(t) + 1));
        cc[i + iD] -= Big_WordMultSub(&cc[i], &cc[i], dd, ai, iD);
        while (cc[i + iD] != 0 || Big_Cmp(&cc[i], dd, iD) >= 0) {
            ++ai;
            cc[i + iD] -= Big_Sub(&cc[i], &cc[i], dd, iD);
        }
        q[i] = ai;
    }
    Big_Zero(r, iDDigits);
    Big_RShift(r, cc, uShift, iD);
    Wipe(cc);
    Wipe(dd);
}

void Big_Mod(Digit *a, const Digit *b, int iBDigits, const Digit *c, int iCDigits) {
    if (!Fits(iBDigits, 2 * kMax)) return;
    Digit t[2 * kMax];
    Big_Div(t, a, b, iBDigits, c, iCDigits);
    Wipe(t);
}

void Big_ModMult(Digit *a, const Digit *b, const Digit *c, const Digit *d, int iDigits) {
    if (!Fits(iDigits)) return;
    Digit t[2 * kMax];
    Big_Mult(t, b, c, iDigits);
    Big_Mod(a, t, 2 * iDigits, d, iDigits);
    Wipe(t);
}

void Big_ModExp(Digit *a, const Digit *b, const Digit *c, int iCDigits, const Digit *d, int iDDigits) {
    if (!Fits(iCDigits) || !Fits(iDDigits)) return;
    // b, b^2 and b^3 mod d for the two exponent bits at a time.
    Digit power[3][kMax];
    Digit t[kMax];
    Big_Mod(power[0], b, iDDigits, d, iDDigits);
    Big_ModMult(power[1], power[0], power[0], d, iDDigits);
    Big_ModMult(power[2], power[1], power[0], d, iDDigits);
    Big_Zero(t, iDDigits);
    t[0] = 1;
    const int iC = static_cast<int>(Big_Digits(c, iCDigits));
    for (int i = iC - 1; i >= 0; --i) {
        Digit ci = c[i];
        unsigned uBits = 32;
        if (i == iC - 1) {
            while ((ci >> 30) == 0) {
                ci <<= 2;
                uBits -= 2;
            }
        }
        for (unsigned j = 0; j < uBits; j += 2, ci <<= 2) {
            Big_ModMult(t, t, t, d, iDDigits);
            Big_ModMult(t, t, t, d, iDDigits);
            if (const Digit s = ci >> 30) {
                Big_ModMult(t, t, power[s - 1], d, iDDigits);
            }
        }
    }
    // An exponent of 0 leaves 1, which is still to be reduced for d = 1.
    Big_Mod(a, t, iDDigits, d, iDDigits);
    Wipe(power);
    Wipe(t);
}

void Big_ModInv(Digit *a, const Digit *b, const Digit *c, int iDigits) {
    if (!Fits(iDigits)) return;
    Digit q[kMax], t1[kMax], t3[kMax], u1[kMax], u3[kMax], v1[kMax], v3[kMax], w[2 * kMax];
    // Extended Euclid keeping only the coefficient of b, with its sign alternating.
    Big_Zero(u1, iDigits);
    u1[0] = 1;
    Big_Zero(v1, iDigits);
    Big_Assign(u3, b, iDigits);
    Big_Assign(v3, c, iDigits);
    bool bNegative = false;
    while (!Big_IsZero(v3, iDigits)) {
        Big_Div(q, t3, u3, iDigits, v3, iDigits);
        Big_Mult(w, q, v1, iDigits);
        Big_Add(t1, u1, w, iDigits);
        Big_Assign(u1, v1, iDigits);
        Big_Assign(v1, t1, iDigits);
        Big_Assign(u3, v3, iDigits);
        Big_Assign(v3, t3, iDigits);
        bNegative = !bNegative;
    }
    if (bNegative) {
        Big_Sub(u1, c, u1, iDigits);
    }
    Big_Assign(a, u1, iDigits);
    for (Digit *p : {q, t1, t3, u1, u3, v1, v3}) {
        Big_Zero(p, kMax);
    }
    Wipe(w);
}

void Big_Gcd(Digit *a, const Digit *b, const Digit *c, int iDigits) {
    if (!Fits(iDigits)) return;
    Digit t[kMax], u[kMax], v[kMax];
    Big_Assign(t, b, iDigits);
    Big_Assign(u, c, iDigits);
    while (!Big_IsZero(u, iDigits)) {
        Big_Mod(v, t, iDigits, u, iDigits);
        Big_Assign(t, u, iDigits);
        Big_Assign(u, v, iDigits);
    }
    Big_Assign(a, t, iDigits);
    Wipe(t);
    Wipe(u);
    Wipe(v);
}

int Big_Cmp(const Digit *a, const Digit *b, int iDigits) {
    for (int i = iDigits - 1; i >= 0; --i) {
        if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
    }
    return 0;
}

int Big_IsZero(const Digit *a, int iDigits) {
    for (int i = 0; i < iDigits; ++i) {
        if (a[i] != 0) return 0;
    }
    return 1;
}

unsigned Big_Digits(const Digit *a, int iDigits) {
    int i = iDigits - 1;
    while (i >= 0 && a[i] == 0) --i;
    return static_cast<unsigned>(i + 1);
}

unsigned Big_Bits(const Digit *a, int iDigits) {
    const unsigned u = Big_Digits(a, iDigits);
    return u == 0 ? 0 : (u - 1) * 32 + Word_Bits(a[u - 1]);
}

unsigned Word_Bits(Digit a) {
    unsigned u = 0;
    for (; a != 0; a >>= 1) ++u;
    return u;
}

void Word_Mult(Digit a[2], Digit b, Digit c) {
    const uint64_t t = uint64_t(b) * c;
    a[0] = static_cast<Digit>(t);
    a[1] = static_cast<Digit>(t >> 32);
}

Digit Big_WordMultSub(Digit *a, const Digit *b, const Digit *c, Digit w, int iDigits) {
    Digit borrow = 0;
    for (int i = 0; i < iDigits; ++i) {
        const uint64_t prod = uint64_t(c[i]) * w + borrow;
        const Digit lo = static_cast<Digit>(prod);
        Digit hi = static_cast<Digit>(prod >> 32);
        const Digit bi = b[i];
        a[i] = bi - lo;
        if (bi < lo) ++hi;
        borrow = hi;
    }
    return borrow;
}

int Mem_Compare(const void *a, const void *b, size_t uLen) { return uLen == 0 ? 0 : std::memcmp(a, b, uLen); }

void Mem_Copy(void *a, const void *b, size_t uLen) {
    if (uLen != 0) std::memmove(a, b, uLen);
}

void Mem_Set(void *a, int iValue, size_t uLen) {
    if (uLen != 0) std::memset(a, iValue, uLen);
}

}  // extern "C"
