/* Size-class allocator: one process-wide allocator over five block pools (yar_blockpool.h) of
 * fixed block sizes under one shared byte limit. A request gets a whole block of the smallest
 * class that covers it:
 *     0..500 -> 2048, ..5120 -> 20480, ..51200 -> 204800, ..512000 -> 2 MiB, ..10 MiB -> 10 MiB.
 * The runtime's last stop releases the pools, and with them every block still handed out. */
#ifndef YAR_MEMPOOL_H
#define YAR_MEMPOOL_H

#include "yar_base.h"
#include "yar_blockpool.h"

#define YAR_MEMPOOL_MAX_REQUEST 0xA00000u
#define YAR_MEMPOOL_MAX_LIMIT 0x80000000u

YAR_BEGIN_DECLS

/* Stores the limit (at most YAR_MEMPOOL_MAX_LIMIT, also when already created) and creates the
 * missing pools; 1 when all five exist, else 0. */
int32_t YAR_MemPool_Init(uint32_t byteLimit);
int32_t YAR_MemPool_Create(uint32_t byteLimit);  /* 0, or -1 */
int32_t YAR_MemPool_TryInit(uint32_t byteLimit); /* 1, or 0 */
/* Deletes the pools; blocks still out are gone with them and later frees of them are ignored. */
void YAR_MemPool_Fini(void);
int32_t YAR_MemPool_Destroy(void); /* 0 */
/* Null above YAR_MEMPOOL_MAX_REQUEST, before creation, or when the block would pass the limit. */
void *YAR_MemPool_Alloc(uint32_t size);
/* Null and foreign pointers are ignored. */
void YAR_MemPool_Free(void *block);
/* Bytes the pools hold (in use and idle), and bytes they can hand out without growing; 0 before
 * creation. The _Local forms take no lock. */
uint64_t YAR_MemPool_GetTotalSize(void);
uint64_t YAR_MemPool_GetFreeSize(void);
uint64_t YAR_MemPool_GetTotalSize_Local(void);
uint64_t YAR_MemPool_GetFreeSize_Local(void);
/* The class (0..4) of a size with its pool (null before creation) and block size; -1 above
 * YAR_MEMPOOL_MAX_REQUEST. Either output may be null. */
int32_t YAR_MemPool_SelectClass(uint32_t size, YAR_MemoryPoolEx **pool, uint32_t *blockSize);

YAR_END_DECLS

#endif
