/* The workloads over fields on chosen variables (peer_fields.c), called by peer_bench.c. */
#ifndef BENCH_PEER_FIELDS_H
#define BENCH_PEER_FIELDS_H

#include <bdd.h>

/* The timer of peer_bench.c around the timed part. */
void fieldsStartClock(void);
void fieldsStopClock(void);

/* The naive closure of direct(x, y): T := T or (T joined with direct shifted to (y, z), z renamed to
 * y), until nothing changes, with a reference for the caller; *iterations counts the rounds. */
BDD naiveClosure(BDD direct, bddPair* shift, bddPair* back, BDD ySet, int* iterations);

BDD fieldsSucc(int width);
BDD fieldsTranspose(int count);
BDD fieldsClosureInterleaved(int bits, const int* from, const int* to, int edges, long long* pairs);
/* The pt relation; the node count of hpt goes to extraNodes. */
BDD fieldsPointsTo(const char* path, long long* extraNodes);

#endif
