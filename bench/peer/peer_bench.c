/* The workloads of bench/java/.../Workloads.java written against the peer library, one run a
 * process, with the same inputs (splitmix64.h and the rules of Inputs.java) and the same checks.
 *
 *   peer_bench WORKLOAD SIZE NODE_TABLE CACHE
 *   peer_bench circuit NETLIST NODE_TABLE CACHE
 *
 * NODE_TABLE and CACHE go to bdd_init as they stand: the initial node table and the size of each
 * operation cache; the table then doubles when it fills (bdd_setmaxincrease(1 << 30): no cap on a
 * step). The run prints one line "RESULT key=value ..." in the engine's format and exits with
 * status 1, after a line "FAILED ...", when an answer is wrong. */
#define _GNU_SOURCE
#include "peer_fields.h"
#include "splitmix64.h"

#include <bdd.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#define GRAPH_SEED UINT64_C(0x6772617068)
#define TUPLE_SEED UINT64_C(0x7475706C65)
#define TUPLE_BITS 20

static double startSeconds;
static long startProduced;

static long produced(void) {
    bddStat s;
    bdd_stats(&s);
    return s.produced;
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void startClock(void) {
    startProduced = produced();
    startSeconds = now();
}

/* Milliseconds since startClock, printed under prefix, with the nodes produced in between. */
static double stopClock(const char* prefix) {
    const double ms = (now() - startSeconds) * 1e3;
    printf(" %sms=%.3f %screated=%ld", prefix, ms, prefix, produced() - startProduced);
    return ms;
}

void fieldsStartClock(void) { startClock(); }
void fieldsStopClock(void) { stopClock(""); }

static void check(const char* what, long long got, long long expected) {
    if (got != expected) {
        printf("\nFAILED %s: got %lld, expected %lld\n", what, got, expected);
        exit(1);
    }
}

/* Takes a reference on fresh, gives old back, returns fresh: the step of every fold below. */
static BDD replace(BDD old, BDD fresh) {
    bdd_addref(fresh);
    bdd_delref(old);
    return fresh;
}

static const long long queensSolutions[] = {1, 1, 0, 0, 2, 10, 4, 40, 92, 352, 724, 2680, 14200, 73712};

/* The k-th square after (i, j) in row-major order that (i, j) attacks in direction p (its row, its
 * column, its two diagonals), into at; 0 when there is none for this k. */
static int attacksLater(int p, int i, int j, int k, int n, int* at) {
    switch (p) {
        case 0: at[0] = i; at[1] = k; return k > j;
        case 1: at[0] = k; at[1] = j; return k > i;
        case 2: at[0] = k; at[1] = k - i + j; return k > i && at[1] < n;
        default: at[0] = k; at[1] = i + j - k; return k > i && at[1] >= 0;
    }
}

/* Square (i, j) is variable i*n + j. Rows are added from the last one up: each row holds a queen,
 * and no two queens attack each other; every attacking pair is added once, with the row of its
 * earlier square. The same construction, in the same order, as the engine's. */
static BDD queens(int n) {
    bdd_setvarnum(n * n);
    startClock();
    BDD board = bdd_addref(bddtrue);
    for (int i = n - 1; i >= 0; i--) {
        BDD row = bdd_addref(bddfalse);
        for (int j = 0; j < n; j++) row = replace(row, bdd_or(row, bdd_ithvar(i * n + j)));
        board = replace(board, bdd_and(board, row));
        bdd_delref(row);
        for (int j = 0; j < n; j++) {
            for (int p = 0; p < 4; p++) {
                BDD part = bdd_addref(bddtrue);
                for (int k = 0; k < n; k++) {
                    int at[2];
                    if (!attacksLater(p, i, j, k, n, at)) continue;
                    BDD clause = bdd_addref(bdd_or(bdd_nithvar(i * n + j), bdd_nithvar(at[0] * n + at[1])));
                    part = replace(part, bdd_and(part, clause));
                    bdd_delref(clause);
                }
                board = replace(board, bdd_and(board, part));
                bdd_delref(part);
            }
        }
    }
    const long long solutions = (long long)bdd_satcount(board);
    stopClock("");
    printf(" answer=%lld", solutions);
    check("queens solutions", solutions, queensSolutions[n]);
    return board;
}

/* The rules of Inputs.graph: 5 edges for every 4 nodes, edge i from the low word, to the high one. */
static int edgeCount(int bits) { return (1 << bits) / 4 * 5; }

static void graph(int bits, int* from, int* to) {
    uint64_t state = GRAPH_SEED;
    const uint64_t mask = (UINT64_C(1) << bits) - 1;
    for (int i = 0; i < edgeCount(bits); i++) {
        const uint64_t r = splitmix64Next(&state);
        from[i] = (int)(r & mask);
        to[i] = (int)((r >> 32) & mask);
    }
}

static long long reachablePairs(int bits, const int* from, const int* to) {
    const int n = 1 << bits, e = edgeCount(bits);
    int* begin = calloc((size_t)n + 1, sizeof(int));
    int* fill = malloc(((size_t)n + 1) * sizeof(int));
    int* succ = malloc((size_t)e * sizeof(int));
    int* seen = calloc((size_t)n, sizeof(int));
    int* queue = malloc((size_t)n * sizeof(int));
    for (int i = 0; i < e; i++) begin[from[i] + 1]++;
    for (int i = 0; i < n; i++) begin[i + 1] += begin[i];
    memcpy(fill, begin, ((size_t)n + 1) * sizeof(int));
    for (int i = 0; i < e; i++) succ[fill[from[i]]++] = to[i];
    long long pairs = 0;
    for (int s = 0; s < n; s++) {
        int head = 0, tail = 0;
        queue[tail++] = s;
        while (head < tail) {
            const int u = queue[head++];
            for (int i = begin[u]; i < begin[u + 1]; i++) {
                const int v = succ[i];
                if (seen[v] != s + 1) {
                    seen[v] = s + 1;
                    queue[tail++] = v;
                    pairs++;
                }
            }
        }
    }
    free(begin);
    free(fill);
    free(succ);
    free(seen);
    free(queue);
    return pairs;
}

/* The set of the pairs (x[i], y[i]), x on variables 0..width-1 and y on width..2*width-1: each pair is
 * the conjunction of the two fields' cubes, joined to the set. */
static BDD pairSet(int m, const int* x, const int* y, int width) {
    int xv[32], yv[32];
    for (int i = 0; i < width; i++) {
        xv[i] = i;
        yv[i] = width + i;
    }
    BDD set = bdd_addref(bddfalse);
    for (int i = 0; i < m; i++) {
        BDD cx = bdd_addref(bdd_ibuildcube(x[i], width, xv));
        BDD cy = bdd_addref(bdd_ibuildcube(y[i], width, yv));
        BDD pair = bdd_addref(bdd_and(cx, cy));
        set = replace(set, bdd_or(set, pair));
        bdd_delref(cx);
        bdd_delref(cy);
        bdd_delref(pair);
    }
    return set;
}

/* x at variables 0..k-1, y at k..2k-1, z at 2k..3k-1, as in the engine's closure. */
static BDD closure(int bits) {
    const int k = bits, e = edgeCount(bits);
    bdd_setvarnum(3 * k);
    int* from = malloc((size_t)e * sizeof(int));
    int* to = malloc((size_t)e * sizeof(int));
    graph(bits, from, to);
    int yv[32], xy[64];
    for (int i = 0; i < k; i++) {
        xy[i] = i;
        yv[i] = xy[k + i] = k + i;
    }
    BDD direct = pairSet(e, from, to, k);
    bddPair* shift = bdd_newpair();  /* (x, y) to (y, z) */
    bddPair* back = bdd_newpair();   /* z to y */
    for (int i = 0; i < k; i++) {
        bdd_setpair(shift, i, k + i);
        bdd_setpair(shift, k + i, 2 * k + i);
        bdd_setpair(back, 2 * k + i, k + i);
    }
    BDD ySet = bdd_addref(bdd_makeset(yv, k));
    BDD xySet = bdd_addref(bdd_makeset(xy, 2 * k));
    startClock();
    int iterations = 0;
    BDD t = naiveClosure(direct, shift, back, ySet, &iterations);
    const long long pairs = (long long)bdd_satcountset(t, xySet);
    stopClock("");
    printf(" answer=%lld iterations=%d", pairs, iterations);
    bdd_delref(direct);
    bdd_delref(ySet);
    bdd_delref(xySet);
    bdd_freepair(shift);
    bdd_freepair(back);
    check("closure pairs", pairs, reachablePairs(bits, from, to));
    free(from);
    free(to);
    return t;
}

static void tuples(int count, int* x, int* y) {
    uint64_t state = TUPLE_SEED;
    const uint64_t mask = (UINT64_C(1) << TUPLE_BITS) - 1;
    for (int i = 0; i < count; i++) {
        const uint64_t r = splitmix64Next(&state);
        x[i] = (int)(r & mask);
        y[i] = (int)((r >> TUPLE_BITS) & mask);
    }
}

static int compareKeys(const void* a, const void* b) {
    const uint64_t p = *(const uint64_t*)a, q = *(const uint64_t*)b;
    return (p > q) - (p < q);
}

static long long distinctTuples(int m, const int* x, const int* y) {
    uint64_t* keys = malloc((size_t)m * sizeof(uint64_t));
    for (int i = 0; i < m; i++) keys[i] = ((uint64_t)x[i] << TUPLE_BITS) | (uint64_t)y[i];
    qsort(keys, (size_t)m, sizeof(uint64_t), compareKeys);
    long long distinct = 0;
    for (int i = 0; i < m; i++) distinct += i == 0 || keys[i] != keys[i - 1];
    free(keys);
    return distinct;
}

static BDD insert(int m, int roundTrip) {
    bdd_setvarnum(2 * TUPLE_BITS);
    int* x = malloc((size_t)m * sizeof(int));
    int* y = malloc((size_t)m * sizeof(int));
    tuples(m, x, y);
    startClock();
    BDD set = pairSet(m, x, y, TUPLE_BITS);
    if (!roundTrip) {
        const long long count = (long long)bdd_satcount(set);
        stopClock("");
        printf(" answer=%lld", count);
        check("insert distinct tuples", count, distinctTuples(m, x, y));
    } else {
        char* buffer = NULL;
        size_t length = 0;
        FILE* out = open_memstream(&buffer, &length);
        startClock();
        check("bdd_save", bdd_save(out, set), 0);
        fflush(out);
        const double writeMs = stopClock("write_");
        fclose(out);
        FILE* in = fmemopen(buffer, length, "r");
        BDD back;
        startClock();
        check("bdd_load", bdd_load(in, &back), 0);
        const double readMs = stopClock("read_");
        fclose(in);
        free(buffer);
        printf(" ms=%.3f stream_bytes=%zu answer=%d", writeMs + readMs, length, back == set);
        check("roundtrip gives the same node back", back, set);
        check("roundtrip distinct tuples", (long long)bdd_satcount(set), distinctTuples(m, x, y));
    }
    free(x);
    free(y);
    return set;
}

/* ---- circuits: the netlist format of Circuits.java ---------------------------------------------- */

#define CIRCUIT_SEED UINT64_C(0x636972637569)

typedef struct {
    char name[64];
    int inputs, gates, outputCount;
    int* fanin;   /* gate k = fanin[2k] AND fanin[2k+1], literals */
    int* outputs; /* literals */
} Netlist;

static void readNetlist(const char* path, Netlist* c) {
    FILE* f = fopen(path, "r");
    if (f == NULL || fscanf(f, "circuit %63s %d %d %d", c->name, &c->inputs, &c->gates, &c->outputCount) != 4) {
        printf("\nFAILED cannot read netlist %s\n", path);
        exit(1);
    }
    c->fanin = malloc(2 * (size_t)c->gates * sizeof(int));
    c->outputs = malloc((size_t)c->outputCount * sizeof(int));
    for (int k = 0; k < 2 * c->gates; k++) check("netlist fanin", fscanf(f, "%d", &c->fanin[k]), 1);
    for (int o = 0; o < c->outputCount; o++) check("netlist output", fscanf(f, "%d", &c->outputs[o]), 1);
    fclose(f);
}

static uint64_t literalWord(const uint64_t* value, int lit) { return (lit & 1) ? ~value[lit >> 1] : value[lit >> 1]; }

static double slowestMs = -1;
static char slowestOp[32];

/* One operation of the circuit build, timed on its own for the slowest one. */
static void timedOp(const char* what, int k, double t0) {
    const double ms = (now() - t0) * 1e3;
    if (ms > slowestMs) {
        slowestMs = ms;
        snprintf(slowestOp, sizeof slowestOp, "%s%d", what, k);
    }
}

static BDD complementOf(BDD x, const char* what, int k) {
    const double t0 = now();
    BDD r = bdd_addref(bdd_not(x));
    timedOp(what, k, t0);
    return r;
}

/* Every gate built in order as the engine's side does: a complemented input through bdd_not, each gate
 * with bdd_and, each diagram given back after its last reader, the outputs held; then the outputs on
 * the 64 vectors of Circuits.simulationVectors against a simulation of the netlist. */
static void circuit(const char* path, long long* resultNodes) {
    Netlist c;
    readNetlist(path, &c);
    bdd_setvarnum(c.inputs);
    const int signals = c.inputs + 1 + c.gates;
    int* lastReader = malloc((size_t)signals * sizeof(int));
    BDD* diagram = calloc((size_t)signals, sizeof(BDD));
    for (int s = 0; s < signals; s++) lastReader[s] = -1;
    for (int k = 0; k < 2 * c.gates; k++) lastReader[c.fanin[k] >> 1] = k / 2;
    for (int o = 0; o < c.outputCount; o++) lastReader[c.outputs[o] >> 1] = c.gates;
    for (int i = 1; i <= c.inputs; i++) diagram[i] = bdd_ithvar(i - 1);
    startClock();
    for (int k = 0; k < c.gates; k++) {
        const int la = c.fanin[2 * k], lb = c.fanin[2 * k + 1];
        BDD a = (la & 1) ? complementOf(diagram[la >> 1], "not@", k) : diagram[la >> 1];
        BDD b = (lb & 1) ? complementOf(diagram[lb >> 1], "not@", k) : diagram[lb >> 1];
        const double t0 = now();
        diagram[c.inputs + 1 + k] = bdd_addref(bdd_and(a, b));
        timedOp("and@", k, t0);
        if (la & 1) bdd_delref(a);
        if (lb & 1) bdd_delref(b);
        if (lastReader[la >> 1] == k && la >> 1 > c.inputs) bdd_delref(diagram[la >> 1]);
        if (lastReader[lb >> 1] == k && lb >> 1 > c.inputs && lb >> 1 != la >> 1) bdd_delref(diagram[lb >> 1]);
    }
    BDD* out = malloc((size_t)c.outputCount * sizeof(BDD));
    for (int o = 0; o < c.outputCount; o++) {
        const int lit = c.outputs[o];
        out[o] = (lit & 1) ? complementOf(diagram[lit >> 1], "not-out@", o) : bdd_addref(diagram[lit >> 1]);
    }
    stopClock("");
    for (int s = c.inputs + 1; s < signals; s++)
        if (lastReader[s] == c.gates) bdd_delref(diagram[s]);
    printf(" slowest_ms=%.3f slowest_op=%s gates=%d", slowestMs, slowestOp, c.gates);

    uint64_t* value = calloc((size_t)signals, sizeof(uint64_t));
    uint64_t state = CIRCUIT_SEED ^ 0x5EED;
    for (int i = 1; i <= c.inputs; i++) value[i] = splitmix64Next(&state);
    for (int k = 0; k < c.gates; k++)
        value[c.inputs + 1 + k] = literalWord(value, c.fanin[2 * k]) & literalWord(value, c.fanin[2 * k + 1]);
    long long ones = 0;
    *resultNodes = 0;
    for (int o = 0; o < c.outputCount; o++) {
        const uint64_t expected = literalWord(value, c.outputs[o]);
        uint64_t got = 0;
        for (int j = 0; j < 64; j++) {
            BDD n = out[o];
            while (n != bddtrue && n != bddfalse) n = ((value[bdd_var(n) + 1] >> j) & 1) ? bdd_high(n) : bdd_low(n);
            got |= (uint64_t)(n == bddtrue) << j;
        }
        check("circuit output on the 64 vectors", (long long)got, (long long)expected);
        ones += __builtin_popcountll(got);
        *resultNodes += bdd_nodecount(out[o]);
    }
    printf(" answer=%lld", ones);
    /* Only the outputs stay for the memory figures; they go with the process. */
    free(value);
    free(out);
    free(diagram);
    free(lastReader);
    free(c.fanin);
    free(c.outputs);
}

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: peer_bench queens|closure|insert|roundtrip|succ|transpose|closurei SIZE NODE_TABLE CACHE\n"
                        "       peer_bench circuit NETLIST|pointsto FACTS NODE_TABLE CACHE\n");
        return 2;
    }
    const char* workload = argv[1];
    const int isCircuit = strcmp(workload, "circuit") == 0, isPointsTo = strcmp(workload, "pointsto") == 0;
    const int size = isCircuit || isPointsTo ? 0 : atoi(argv[2]);
    if (bdd_init(atoi(argv[3]), atoi(argv[4])) != 0) return 2;
    bdd_setmaxincrease(1 << 30); /* no cap: the table doubles, as the engine's tables do */
    bdd_gbc_hook(NULL);
    if (isCircuit || isPointsTo)
        printf("RESULT side=peer workload=%s size=%s", workload, argv[2]);
    else
        printf("RESULT side=peer workload=%s size=%d", workload, size);
    BDD kept = bddfalse;
    long long resultNodes = -1;
    if (strcmp(workload, "queens") == 0) {
        kept = queens(size);
    } else if (strcmp(workload, "closure") == 0) {
        kept = closure(size);
    } else if (strcmp(workload, "insert") == 0) {
        kept = insert(size, 0);
    } else if (strcmp(workload, "roundtrip") == 0) {
        kept = insert(size, 1);
    } else if (isCircuit) {
        circuit(argv[2], &resultNodes);
    } else if (strcmp(workload, "succ") == 0) {
        kept = fieldsSucc(size);
    } else if (strcmp(workload, "transpose") == 0) {
        kept = fieldsTranspose(size);
    } else if (strcmp(workload, "closurei") == 0) {
        const int e = edgeCount(size);
        int* from = malloc((size_t)e * sizeof(int));
        int* to = malloc((size_t)e * sizeof(int));
        graph(size, from, to);
        long long pairs;
        kept = fieldsClosureInterleaved(size, from, to, e, &pairs);
        check("closure pairs", pairs, reachablePairs(size, from, to));
        free(from);
        free(to);
    } else if (isPointsTo) {
        long long hptNodes;
        kept = fieldsPointsTo(argv[2], &hptNodes);
    } else {
        fprintf(stderr, "unknown workload %s\n", workload);
        return 2;
    }
    /* Only the result held: the live nodes, and the node table at 20 bytes a node. */
    bdd_gbc();
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    if (resultNodes < 0) resultNodes = bdd_nodecount(kept);
    printf(" result_nodes=%lld live_nodes=%d own_bytes=%lld peak_rss_kb=%ld\n", resultNodes,
           bdd_getnodenum(), 20LL * bdd_getallocnum(), usage.ru_maxrss);
    bdd_done();
    return 0;
}
