// Operations over any variables: if-then-else, quantification and the relational product over a
// set of variables, replacement of variables by any one-to-one map, and tuples over fields whose
// bits lie on any variables.
//
// They follow the reference convention of every operation (arguments borrowed, one reference on the
// result for the caller, a terminal result handed back without one) and memoise in the operation
// cache under keys that hold everything the result depends on:
//   - a set of variables is the diagram of its cube (the conjunction of the variables, each node's
//     low child `zero`), and the cache knows it by that node, its handle and its stamp, like any key
//     node; `makeCube` builds it;
//   - a variable map is registered once (`registerVarMap`) and known by the id it gets, which no
//     other map of the store ever gets;
//   - if-then-else and the relational product over a set have three key nodes (key shape 5).
//
// Field layouts. A field is a list of variables, most significant bit first, in any order and
// anywhere; the fields of a layout share no variable. Tuples over a layout list in the order of the
// variables: a tuple comes before another when, at the lowest variable where their bits differ, its
// bit is 0. So fields that lie on consecutive runs in increasing order list lexicographically, field
// by field. A diagram that tests a variable of no field is refused by the walks that read it under a
// layout ("Assert failed: BDDNativeImpl.getNumOfTuples" when counting, "Assert failed:
// BDDNativeImpl.getTuples" when listing).
#pragma once

#include "engine/BDDNativeImpl.h"
#include "ops/TupleWalks.h"

#include <span>
#include <vector>

// The variable a node tests (a terminal's lies below every inner variable).
inline int32_t varOf(Node n) { return nodeOf(n).var; }

// ---- Boolean combination and variable sets --------------------------------------------------------
// (f AND g) OR (NOT f AND h), in one pass.
Node ite(Node f, Node g, Node h);
// The cube of `vars` (any order, none twice, each in 0..32765, else "Assert failed: Invalid variable
// list"); `one` for no variable.
Node makeCube(std::span<const int32_t> vars);
// Refuses a diagram that is not a cube ("Assert failed: Invalid variable set").
void checkCube(Node cube);
// The set with every variable of `cube` quantified away.
Node existsSet(Node node, Node cube);
// (a AND b) with every variable of `cube` quantified away, without building a AND b.
Node relprodSet(Node a, Node b, Node cube);
// The variables that some node reachable from `node` tests, in increasing order.
std::vector<int32_t> supportOf(Node node);

// ---- Variable maps --------------------------------------------------------------------------------
// Registers the map from[i] -> to[i] and returns its id. Refuses lists of different lengths, a
// source or target given twice ("Assert failed: Invalid variable map") and variables outside
// 0..32765 ("Assert failed: Invalid variable list").
int32_t registerVarMap(std::span<const int32_t> from, std::span<const int32_t> to);
// The set with every variable v of the map replaced by its target, all at once: the canonical
// diagram of the substituted function, whatever the map does to the variable order (a swap, a
// transposition, a field moved past another). Refuses an id that names no map ("Assert failed:
// Invalid variable map").
Node replaceVars(Node node, int32_t mapId);

// ---- Field layouts and tuples ---------------------------------------------------------------------
// One bit of a layout: its variable, its field, and its place in the field's value (0 = least
// significant).
struct LayoutBit {
    int32_t var;
    int32_t field;
    int32_t shift;
};

struct FieldLayout {
    int32_t numFields = 0;
    std::vector<int32_t> width;   // bits of each field, 0 to 31
    std::vector<int32_t> offset;  // where each field's variables begin in `vars`
    std::vector<int32_t> vars;    // each field's variables, most significant bit first
    std::vector<LayoutBit> bits;  // every bit of every field, in increasing variable order
};

// The layout whose field f has the next fieldWidths[f] variables of `fieldVars`. Refuses widths
// outside 0..31, lists that do not add up, variables outside 0..32765 or in two places ("Assert
// failed: Invalid tuple layout").
FieldLayout fieldLayoutOf(std::span<const int32_t> fieldVars, std::span<const int32_t> fieldWidths);
// The layout of fields on consecutive runs (first variable and width each), checked as above.
FieldLayout fieldLayoutOfRuns(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth);

// The set of one tuple (one value a field, in the layout's order; a value that does not fit its
// field is refused with "Assert failed: Tuple value out of range"). Variables of no field are free.
Node makeFieldTuple(const FieldLayout& layout, const int32_t* values);
// The set with `count` tuples added (numFields values each, one after the other). Builds the set of
// the new tuples in one pass over them, sorted, then unites it with `node`.
Node addFieldTuples(Node node, const FieldLayout& layout, const int32_t* values, int64_t count);

// Lists tuples of `node` into the sink, in the layout's order, each value below its field's bound
// (`bounds` null: no bound), beginning at the tuple `start` (null: the first; `after`: the first
// that comes after it), at most `maxTuples` (1 or more). Returns how many it listed.
int64_t listFieldTuples(Node node, const FieldLayout& layout, const int32_t* bounds, const int32_t* start, bool after,
                        int64_t maxTuples, const TupleSink& sink);

// The exact number of tuples of `node` under the layout, as 32-bit limbs, least significant first,
// without leading zero limbs (0 is empty). Variables of no field are not counted.
std::vector<uint32_t> exactNumOfTuples(Node node, const FieldLayout& layout);

// ---- Builders over the variables of fields (most significant bit first) ---------------------------
// Every value v of the field with lo <= v <= hi; `zero` when no value of the field's width is.
Node makeRange(std::span<const int32_t> vars, int64_t lo, int64_t hi);
// The two fields equal. Lists of different lengths, or sharing a variable: "Assert failed: Invalid
// variable list".
Node makeFieldsEqual(std::span<const int32_t> a, std::span<const int32_t> b);
// to = from + k, without wrapping around (k may be negative); lists as for `makeFieldsEqual`.
Node makePlus(std::span<const int32_t> from, std::span<const int32_t> to, int64_t k);
