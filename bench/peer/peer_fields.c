/* The workloads over fields on chosen variables, against the peer library: fdd blocks for the fields
 * (the domains of one block interleaved), the variable order set so that every field's most
 * significant bit comes first (as the engine places a field's bits), bdd_replace for renaming and
 * bdd_appex for the relational product.
 *
 *   succ W          to = from + 1 without wrap-around, from and to interleaved, W bits each
 *   transpose N     N random pairs over two interleaved 20-bit fields, swapped with one bdd_replace
 *   closurei K      the closure of closure K with x, y and z interleaved
 *   pointsto FILE   the points-to analysis of bench/README.md on the facts in FILE
 *
 * Each prints its figures in the RESULT line that peer_bench.c begins and ends. */
#include "peer_fields.h"

#include "splitmix64.h"

#include <bvec.h>
#include <fdd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The blocks made so far: domains firstDomain .. firstDomain + count - 1 were made by one
 * fdd_extdomain, so their bits are interleaved, least significant first. */
#define MAX_BLOCKS 16
static int blockFirst[MAX_BLOCKS], blockCount[MAX_BLOCKS], blocks;

static int addBlock(int count, const int* sizes) {
    const int first = fdd_extdomain((int*)sizes, count);
    blockFirst[blocks] = first;
    blockCount[blocks++] = count;
    return first;
}

/* The order of levels: block after block, within a block the most significant bit of each domain,
 * then the next bit of each, and so on. */
static void mostSignificantFirst(void) {
    int* order = malloc((size_t)bdd_varnum() * sizeof(int));
    int at = 0;
    for (int b = 0; b < blocks; b++) {
        int width = 0;
        for (int d = 0; d < blockCount[b]; d++)
            if (fdd_varnum(blockFirst[b] + d) > width) width = fdd_varnum(blockFirst[b] + d);
        for (int bit = width - 1; bit >= 0; bit--)
            for (int d = 0; d < blockCount[b]; d++)
                if (bit < fdd_varnum(blockFirst[b] + d)) order[at++] = fdd_vars(blockFirst[b] + d)[bit];
    }
    bdd_setvarorder(order);
    free(order);
}

static void fail(const char* what) {
    printf("\nFAILED %s\n", what);
    exit(1);
}

/* The set where domain d holds v, with a reference. */
static BDD valueOf(int d, int v) { return bdd_addref(fdd_ithvar(d, v)); }

/* into AND fresh, both with a reference, which are given back; the result has one. */
static BDD andInto(BDD into, BDD fresh) {
    BDD r = bdd_addref(bdd_and(into, fresh));
    bdd_delref(into);
    bdd_delref(fresh);
    return r;
}

/* into OR fresh, as andInto. */
static BDD orInto(BDD into, BDD fresh) {
    BDD r = bdd_addref(bdd_or(into, fresh));
    bdd_delref(into);
    bdd_delref(fresh);
    return r;
}

/* ---- succ ---------------------------------------------------------------------------------------- */

BDD fieldsSucc(int width) {
    const int sizes[2] = {1 << width, 1 << width};
    const int from = addBlock(2, sizes), to = from + 1;
    mostSignificantFirst();
    fieldsStartClock();
    BVEC f = bvec_varfdd(from), t = bvec_varfdd(to);
    BVEC wide = bvec_coerce(width + 1, f);
    BVEC sum = bvec_add(wide, bvec_con(width + 1, 1));
    /* The sum's top bit is the carry out, which must stay 0: no wrap-around. */
    BVEC low = bvec_coerce(width, sum);
    BDD relation = bdd_addref(bdd_and(bvec_equ(t, low), bdd_not(sum.bitvec[width])));
    fieldsStopClock();
    bvec_free(f);
    bvec_free(t);
    bvec_free(wide);
    bvec_free(sum);
    bvec_free(low);
    const long long pairs = (long long)bdd_satcount(relation);
    printf(" answer=%lld nodes_per_bit=%.2f", pairs, (double)bdd_nodecount(relation) / width);
    if (pairs != (1LL << width) - 1) fail("succ pairs");
    return relation;
}

/* ---- transpose ----------------------------------------------------------------------------------- */

#define TRANSPOSE_SEED UINT64_C(0x7472616E73)
#define TRANSPOSE_BITS 20

BDD fieldsTranspose(int count) {
    const int sizes[2] = {1 << TRANSPOSE_BITS, 1 << TRANSPOSE_BITS};
    const int a = addBlock(2, sizes), b = a + 1;
    mostSignificantFirst();
    uint64_t state = TRANSPOSE_SEED;
    BDD set = bdd_addref(bddfalse);
    for (int i = 0; i < count; i++) {
        const uint64_t r = splitmix64Next(&state);
        set = orInto(set, andInto(valueOf(a, (int)(r & 0xFFFFF)), valueOf(b, (int)((r >> 20) & 0xFFFFF))));
    }
    bddPair* swap = bdd_newpair();
    fdd_setpair(swap, a, b);
    fdd_setpair(swap, b, a);
    fieldsStartClock();
    BDD swapped = bdd_addref(bdd_replace(set, swap));
    fieldsStopClock();
    BDD back = bdd_replace(swapped, swap);
    if (back != set) fail("transposing twice gives the relation back");
    printf(" answer=%lld", (long long)bdd_satcount(swapped));
    bdd_delref(set);
    bdd_freepair(swap);
    return swapped;
}

/* ---- closurei ------------------------------------------------------------------------------------ */

BDD naiveClosure(BDD direct, bddPair* shift, bddPair* back, BDD ySet, int* iterations) {
    BDD shifted = bdd_addref(bdd_replace(direct, shift));
    BDD t = bdd_addref(direct);
    for (;;) {
        ++*iterations;
        BDD joined = bdd_addref(bdd_relprod(t, shifted, ySet));
        BDD step = bdd_addref(bdd_replace(joined, back));
        bdd_delref(joined);
        BDD next = bdd_addref(bdd_or(t, step));
        bdd_delref(step);
        bdd_delref(t);
        const int same = next == t;
        t = next;
        if (same) break;
    }
    bdd_delref(shifted);
    return t;
}

BDD fieldsClosureInterleaved(int bits, const int* from, const int* to, int edges, long long* pairs) {
    const int sizes[3] = {1 << bits, 1 << bits, 1 << bits};
    const int x = addBlock(3, sizes), y = x + 1, z = x + 2;
    mostSignificantFirst();
    BDD direct = bdd_addref(bddfalse);
    for (int i = 0; i < edges; i++) direct = orInto(direct, andInto(valueOf(x, from[i]), valueOf(y, to[i])));
    bddPair* shift = bdd_newpair(); /* (x, y) to (y, z) */
    bddPair* back = bdd_newpair();  /* z to y */
    fdd_setpair(shift, x, y);
    fdd_setpair(shift, y, z);
    fdd_setpair(back, z, y);
    BDD ySet = bdd_addref(fdd_ithset(y));
    int xy[2] = {x, y};
    BDD xySet = bdd_addref(fdd_makeset(xy, 2));
    fieldsStartClock();
    int iterations = 0;
    BDD t = naiveClosure(direct, shift, back, ySet, &iterations);
    *pairs = (long long)bdd_satcountset(t, xySet);
    fieldsStopClock();
    printf(" answer=%lld iterations=%d", *pairs, iterations);
    bdd_delref(direct);
    bdd_delref(ySet);
    bdd_delref(xySet);
    bdd_freepair(shift);
    bdd_freepair(back);
    return t;
}

/* ---- pointsto ------------------------------------------------------------------------------------ */

/* The facts file that PointsTo.java writes: a line "pointsto V H F N M I" with the domain sizes,
 * then for each relation a line "NAME ARITY COUNT" and COUNT lines of ARITY values. */
enum { V0, V1, H0, H1, F, N, I, M, DOMAINS };
static int dom[DOMAINS];


/* A relation of the file over the given domains, one fact after the other or-ed in. */
static BDD readRelation(FILE* in, const char* name, int arity, const int* domains) {
    char found[32];
    int gotArity, count;
    if (fscanf(in, "%31s %d %d", found, &gotArity, &count) != 3 || strcmp(found, name) != 0 || gotArity != arity)
        fail("the facts file does not hold the relations in order");
    BDD r = bdd_addref(bddfalse);
    for (int k = 0; k < count; k++) {
        BDD fact = bdd_addref(bddtrue);
        for (int c = 0; c < arity; c++) {
            int v;
            if (fscanf(in, "%d", &v) != 1) fail("a fact is cut short");
            fact = andInto(fact, valueOf(dom[domains[c]], v));
        }
        r = orInto(r, fact);
    }
    return r;
}

/* The variables of domain a, and of b unless it is negative. */
static BDD setOf(int a, int b) {
    int ds[2] = {dom[a], b < 0 ? 0 : dom[b]};
    return bdd_addref(fdd_makeset(ds, b < 0 ? 1 : 2));
}

/* r := r op fresh, each with one reference held. */
static BDD keep(BDD fresh) { return bdd_addref(fresh); }

BDD fieldsPointsTo(const char* path, long long* extraNodes) {
    FILE* in = fopen(path, "r");
    int size[6];
    if (in == NULL || fscanf(in, "pointsto %d %d %d %d %d %d", &size[0], &size[1], &size[2], &size[3], &size[4], &size[5]) != 6)
        fail("cannot read the facts file");
    /* Blocks in the order of bench/README.md: F, N, I, M, then V0 x V1, then H0 x H1. */
    const int fSize[1] = {size[2]}, nSize[1] = {size[3]}, iSize[1] = {size[5]}, mSize[1] = {size[4]};
    dom[F] = addBlock(1, fSize);
    dom[N] = addBlock(1, nSize);
    dom[I] = addBlock(1, iSize);
    dom[M] = addBlock(1, mSize);
    const int vSizes[2] = {size[0], size[0]}, hSizes[2] = {size[1], size[1]};
    dom[V0] = addBlock(2, vSizes);
    dom[V1] = dom[V0] + 1;
    dom[H0] = addBlock(2, hSizes);
    dom[H1] = dom[H0] + 1;
    mostSignificantFirst();

    const int dNew[] = {V0, H0}, dAssign[] = {V0, V1}, dLoad[] = {V0, V1, F}, dStore[] = {V0, F, V1};
    const int dCall[] = {I, V0, N}, dIV[] = {I, V0}, dDispatch[] = {H0, N, M}, dMV[] = {M, V0};
    BDD newFacts = readRelation(in, "new", 2, dNew);
    BDD assign = readRelation(in, "assign", 2, dAssign);
    BDD load = readRelation(in, "load", 3, dLoad);
    BDD store = readRelation(in, "store", 3, dStore);
    BDD call = readRelation(in, "call", 3, dCall);
    BDD actual = readRelation(in, "actual", 2, dIV);
    BDD result = readRelation(in, "result", 2, dIV);
    BDD dispatch = readRelation(in, "dispatch", 3, dDispatch);
    BDD thisVar = readRelation(in, "thisVar", 2, dMV);
    BDD param = readRelation(in, "param", 2, dMV);
    BDD ret = readRelation(in, "ret", 2, dMV);
    fclose(in);

    bddPair* v0v1 = bdd_newpair();
    fdd_setpair(v0v1, dom[V0], dom[V1]);
    bddPair* v0v1h0h1 = bdd_newpair();
    fdd_setpair(v0v1h0h1, dom[V0], dom[V1]);
    fdd_setpair(v0v1h0h1, dom[H0], dom[H1]);
    bddPair* h1h0 = bdd_newpair();
    fdd_setpair(h1h0, dom[H1], dom[H0]);
    BDD sV0 = setOf(V0, -1), sV1 = setOf(V1, -1), sH0F = setOf(H0, F), sN = setOf(N, -1), sH0 = setOf(H0, -1);
    BDD sI = setOf(I, -1), sM = setOf(M, -1);

    fieldsStartClock();
    BDD actualV1 = keep(bdd_replace(actual, v0v1));
    BDD retV1 = keep(bdd_replace(ret, v0v1));
    BDD pt = keep(newFacts);
    BDD hpt = keep(bddfalse);
    BDD target = keep(bddfalse);
    int rounds = 0;
    for (;;) {
        rounds++;
        BDD ptV1 = keep(bdd_replace(pt, v0v1));
        BDD ptV1H1 = keep(bdd_replace(pt, v0v1h0h1));
        BDD a = keep(bdd_relprod(assign, ptV1, sV1));
        BDD s1 = keep(bdd_relprod(store, pt, sV0));
        BDD s = keep(bdd_relprod(s1, ptV1H1, sV1));
        BDD l1 = keep(bdd_relprod(load, ptV1, sV1));
        BDD l = keep(bdd_relprod(l1, hpt, sH0F));
        BDD lH0 = keep(bdd_replace(l, h1h0));
        BDD c1 = keep(bdd_relprod(call, pt, sV0));
        BDD recv = keep(bdd_relprod(c1, dispatch, sN));
        bdd_delref(target);
        target = keep(bdd_exist(recv, sH0));
        BDD th1 = keep(bdd_relprod(recv, thisVar, sM));
        BDD th = keep(bdd_exist(th1, sI));
        BDD p1 = keep(bdd_relprod(actualV1, ptV1, sV1));
        BDD p2 = keep(bdd_relprod(p1, target, sI));
        BDD p = keep(bdd_relprod(p2, param, sM));
        BDD r1 = keep(bdd_relprod(retV1, ptV1, sV1));
        BDD r2 = keep(bdd_relprod(r1, target, sM));
        BDD r = keep(bdd_relprod(r2, result, sI));
        BDD grown = keep(bdd_or(pt, a));
        BDD parts[] = {lH0, th, p, r};
        for (int k = 0; k < 4; k++) grown = orInto(grown, keep(parts[k]));
        BDD hptGrown = keep(bdd_or(hpt, s));
        const int same = grown == pt && hptGrown == hpt;
        BDD dropped[] = {ptV1, ptV1H1, a, s1, s, l1, l, lH0, c1, recv, th1, th, p1, p2, p, r1, r2, r, pt, hpt};
        for (size_t k = 0; k < sizeof dropped / sizeof dropped[0]; k++) bdd_delref(dropped[k]);
        pt = grown;
        hpt = hptGrown;
        if (same) break;
    }
    int vh[2] = {dom[V0], dom[H0]}, hfh[3] = {dom[H0], dom[F], dom[H1]}, im[2] = {dom[I], dom[M]};
    const long long ptPairs = (long long)bdd_satcountset(pt, fdd_makeset(vh, 2));
    const long long hptTriples = (long long)bdd_satcountset(hpt, fdd_makeset(hfh, 3));
    const long long targets = (long long)bdd_satcountset(target, fdd_makeset(im, 2));
    fieldsStopClock();
    printf(" answer=%lld hpt=%lld targets=%lld rounds=%d hpt_nodes=%d", ptPairs, hptTriples, targets, rounds,
           bdd_nodecount(hpt));
    *extraNodes = bdd_nodecount(hpt);
    return pt;
}
