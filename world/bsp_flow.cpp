// Portal-flow visibility. Every portal is used in both directions; a directed
// portal leads from the leaf behind its plane into the leaf in front. A coarse
// flood first finds, for each directed portal, the leaves that could be seen
// through it at all (reached through portals facing the right way); the flow
// then follows every chain of portals from it, narrowing the passage at each
// step by the separating planes between the source portal and the last
// passage, and stops where nothing of the next portal remains. Chains are
// cut only by exact geometric tests widened by the plane thickness, so every
// real sightline survives.
//
// Directed portals are independent: workers take them in order of growing
// flood size, and a finished portal's set bounds the chains that reach it.
// The sets are bit sets of leaves; a chain that might see a leaf goes on
// through the portals into it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "platform/platform.h"
#include "world/bsp_plane.h"
#include "world/bsp_local.h"
#include "world/bsp_sound_local.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

typedef uint64_t word;

// The chain steps followed from one directed portal; past them, a chain's
// next portal adds what might be seen beyond it (the coarse sets of the
// portals on the chain, intersected) without going on; where the lists
// would be large, only the leaves of that whose cells reach into the passage
// from the source through the portal. The budget shrinks as the portals grow
// in number, bounding the time of the whole flow whatever the level's shape.
const long STEP_BUDGET_MAX = 250, STEP_BUDGET_MIN = 60, STEPS_TOTAL = 1500000;
// Chains are followed this many portals past the first one alone. Spending
// the steps on the many short chains rather than on the first long one gives
// tighter sets for less time. The depth falls as the portals grow in number:
// each step deeper multiplies the work by the portals of a leaf.
struct chain_depth {
    int portals;  // levels with up to this many portals
    int depth;
};
const chain_depth CHAIN_DEPTHS[] = {{2000, 8}, {5000, 2}, {INT32_MAX, 0}};
// The sets end as lists of a few words per leaf seen, which can outweigh all
// else a level takes. Where the coarse sets promise lists of more than this
// many bytes, chain ends are narrowed to their passage, chains go one portal
// deeper for each such amount (at most DEEPER_MAX times), and one more from
// the portals whose coarse set holds more than LARGE_SET of the leaves: the
// time goes where it saves the most memory.
const double LIST_BYTES_DEEPER = 64.0 * 1024 * 1024;
const int DEEPER_MAX = 2;
const double LARGE_SET = 0.6;

struct dportal {
    const winding3* w;
    dplane plane;  // normal into `to`
    int from, to;  // leaf indices
    double c[3], r;
    double bc[3], bh[3];  // bounding box: centre and half sizes
    word* lflood;  // leaves that might be seen through it (the coarse set)
    word* lvis;    // leaves seen through it (valid once done)
    int nflood;    // portals the coarse set was reached through
    int nreach;    // leaves in the coarse set
    std::atomic<int> done;
};

// A directed portal's sphere and plane in single precision, for the flood's
// first pass. The tests on them keep a margin of a plane thickness against
// rounding; what they leave open is decided from the double-precision
// portal.
struct flood_entry {
    float c[3], r;
    float n[3], d;
};

struct flow_state {
    dportal* dp = nullptr;
    flood_entry* fl = nullptr;  // parallel to dp
    int ndp = 0;
    int nleaves = 0;
    int lwords = 0;  // words of a set of leaves
    // Directed portals are numbered by the leaf they leave, so that those of
    // one leaf lie together.
    int* leaf_start = nullptr;  // the first directed portal leaving each leaf
    int* order = nullptr;
    word* lbits = nullptr;  // the leaf sets (lflood and lvis of each portal, side by side)
    winding3* pw = nullptr;  // the portals' windings, one per directed portal, in its order
    // The spheres and planes of the flood entries again, one array per
    // coordinate (padded to whole blocks of the first pass), which it reads
    // a block at a time.
    float* soa = nullptr;
    int npad = 0;
    int* to = nullptr;   // the leaf each directed portal leads into (what the walk reads)
    // Per leaf: centre and half sizes of its cell's box (half -1: unknown);
    // then the same per word of a leaf set, holding the cells of its 64
    // leaves (leaves are numbered down the tree, so these lie together).
    double* cell = nullptr;
    double* wcell = nullptr;
    enum { CX, CY, CZ, R, NX, NY, NZ, D, ARRAYS };
    float* column(int c) const { return soa + (size_t)c * npad; }
    double eps = 0;
    bool exhaustive = false;  // every chain to its end, no shortcuts (a reference)
    long budget = STEP_BUDGET_MAX;
    int depth_max = 1;
    int deeper_from = INT32_MAX;  // portals whose coarse set holds more leaves go a step deeper
    bool narrow_ends = false;     // chain ends keep only the leaves that reach into their passage
    std::atomic<int> next{0};
    std::atomic<int> failed{0};

    ~flow_state()
    {
        release();
        delete[] leaf_start;
    }

    // Frees all but leaf_start, which tells the leaves without portals.
    void release()
    {
        delete[] dp;
        delete[] fl;
        delete[] order;
        delete[] lbits;
        delete[] pw;
        delete[] soa;
        delete[] to;
        delete[] cell;
        delete[] wcell;
        dp = nullptr;
        fl = nullptr;
        order = nullptr;
        lbits = nullptr;
        pw = nullptr;
        soa = nullptr;
        to = nullptr;
        cell = wcell = nullptr;
    }

    // Whether some point of leaf's cell lies in front of every plane (within
    // eps): whether it can hold a point seen through the passage they bound.
    // *first is the plane to try first, and receives the one that failed:
    // neighbouring leaves tend to fail on the same plane.
    static bool box_in(const double* c, const dplane* planes, int n, int* first, double eps)
    {
        if (c[3] < 0)
            return true;
        for (int i = 0, k = *first; i < n; ++i, k = k + 1 == n ? 0 : k + 1) {
            const dplane& pl = planes[k];
            double e = std::fabs(pl.n[0]) * c[3] + std::fabs(pl.n[1]) * c[4] + std::fabs(pl.n[2]) * c[5];
            if (pl.dist(c) + e < -eps) {
                *first = k;
                return false;
            }
        }
        return true;
    }
    bool cell_in(int leaf, const dplane* planes, int n, int* first) const
    {
        return box_in(cell + 6 * (size_t)leaf, planes, n, first, eps);
    }
    bool word_in(int j, const dplane* planes, int n, int* first) const
    {
        return box_in(wcell + 6 * (size_t)j, planes, n, first, eps);
    }
};

inline bool bit(const word* s, int k)
{
    return (s[k >> 6] >> (k & 63)) & 1;
}
inline void set_bit(word* s, int k)
{
    s[k >> 6] |= (word)1 << (k & 63);
}

// Whether some point of w lies in front of pl (beyond eps). The sphere
// (c, r) and the box (bc, bh) hold w: most portals are decided by them.
// c is the mean of w's points, so it lies no farther out than one of them.
bool any_front(const winding3& w, const double* c, double r, const double* bc, const double* bh, const dplane& pl,
               double eps)
{
    double d = pl.dist(c);
    if (d > eps)
        return true;
    if (d < eps - r)
        return false;
    double e = std::fabs(pl.n[0]) * bh[0] + std::fabs(pl.n[1]) * bh[1] + std::fabs(pl.n[2]) * bh[2];
    d = pl.dist(bc);
    if (d > e + eps)
        return true;
    if (d < eps - e)
        return false;
    for (int k = 0; k < w.n; ++k)
        if (pl.dist(w.at(k)) > eps)
            return true;
    return false;
}

// The box of w, widened a little against rounding.
void box_of(const winding3& w, double* bc, double* bh)
{
    double mn[3] = {0, 0, 0}, mx[3] = {0, 0, 0};
    for (int k = 0; k < w.n; ++k)
        for (int a = 0; a < 3; ++a) {
            double v = w.at(k)[a];
            mn[a] = k == 0 || v < mn[a] ? v : mn[a];
            mx[a] = k == 0 || v > mx[a] ? v : mx[a];
        }
    for (int a = 0; a < 3; ++a) {
        bc[a] = 0.5 * (mn[a] + mx[a]);
        bh[a] = 0.5 * (mx[a] - mn[a]) + 1e-9 * (1.0 + std::fabs(mn[a]) + std::fabs(mx[a]));
    }
}

// The coarse set of a directed portal: the portals reached from its far
// leaf through portals that lie partly in front of it and that it lies
// partly behind. A first pass over all portals at once, in single precision,
// settles most tests (class: 0 fails; else 4, plus 1 when the first test is
// open and 2 when the second is); the walk takes the settled ones as they
// are and tests the open ones on the points.
// The first pass for one directed portal p, taken a block of portals at a
// time as the walk reaches them.
struct first_pass {
    enum { BLOCK = 16 };  // need() takes block numbers as shifts by 4
    const float *cx, *cy, *cz, *r, *nx, *ny, *nz, *nd;
    float pn0, pn1, pn2, pd, pc0, pc1, pc2, pr, eps, wide;
    int32_t* cls;
    uint16_t* made;  // blocks done (a type no other store here can alias)

    first_pass(const flow_state& fs, const flood_entry& pf, int32_t* _cls, uint16_t* _made)
        : cx(fs.column(flow_state::CX)), cy(fs.column(flow_state::CY)), cz(fs.column(flow_state::CZ)),
          r(fs.column(flow_state::R)), nx(fs.column(flow_state::NX)), ny(fs.column(flow_state::NY)),
          nz(fs.column(flow_state::NZ)), nd(fs.column(flow_state::D)), pn0(pf.n[0]), pn1(pf.n[1]), pn2(pf.n[2]),
          pd(pf.d), pc0(pf.c[0]), pc1(pf.c[1]), pc2(pf.c[2]), pr(pf.r), eps((float)fs.eps),
          wide(2 * (float)fs.eps), cls(_cls), made(_made)
    {
        memset(made, 0, sizeof(uint16_t) * (size_t)fs.npad / BLOCK);
    }

    // Classes of portals [from, to) made.
    void need(int from, int to)
    {
        for (unsigned b = (unsigned)from >> 4, last = (unsigned)(to - 1) >> 4; b <= last; ++b)
            if (!made[b]) {
                made[b] = 1;
                block((int)b << 4);
            }
    }

    // Kept out of the walk, whose registers it would otherwise take.
    [[gnu::noinline]] void block(int at) const
    {
        // Locals, so that the stores to the classes cannot be taken to
        // change the inputs.
        const float *x = cx + at, *y = cy + at, *z = cz + at, *rr = r + at;
        const float *a = nx + at, *b = ny + at, *c = nz + at, *dd = nd + at;
        const float n0 = pn0, n1 = pn1, n2 = pn2, d = pd, c0 = pc0, c1 = pc1, c2 = pc2, rad = pr;
        const float lo = eps - wide, hi = eps + wide;
        int32_t* out_cls = cls + at;
        for (int k = 0; k < BLOCK; ++k) {
            // q against p's plane, p against q's. A sphere wholly on one
            // side settles a test; so does a centre beyond the thickness,
            // as the centre is the mean of the points: one of them is
            // farther out still.
            float d1 = n0 * x[k] + n1 * y[k] + n2 * z[k] - d;
            float d2 = a[k] * c0 + b[k] * c1 + c[k] * c2 - dd[k];
            int out = (d1 + rr[k] < lo) | (d2 - rad > -lo);
            int open1 = d1 <= hi, open2 = d2 >= -hi;
            out_cls[k] = (4 | open1 | (open2 << 1)) & (out - 1);
        }
    }
};

void flood(flow_state& fs, int pi, int* stack, word* seen, int32_t* cls, uint16_t* made)
{
    dportal& p = fs.dp[pi];
    first_pass first(fs, fs.fl[pi], cls, made);
    const int lw = (fs.nleaves + 63) / 64;
    memset(seen, 0, sizeof(word) * (size_t)lw);
    const int* to_of = fs.to;
    const int* start = fs.leaf_start;
    int top = 0, n = 0;
    bool back = false;  // whether a passing portal leads back into p's far leaf
    int leaf = p.to;
    set_bit(seen, leaf);
    for (;;) {
        // Each leaf is opened once: a portal's test does not depend on the way in.
        if (start[leaf] < start[leaf + 1])
            first.need(start[leaf], start[leaf + 1]);
        for (int k = start[leaf], end = start[leaf + 1]; k < end; ++k) {
            int c = cls[k];
            if (c == 0)
                continue;
            if (c != 4) {
                const dportal& dq = fs.dp[k];
                // Some point of q in front of p?
                if ((c & 1) && !any_front(*dq.w, dq.c, dq.r, dq.bc, dq.bh, p.plane, fs.eps))
                    continue;
                // Some point of p behind q?
                if (c & 2) {
                    dplane qback = dq.plane;
                    qback.flip();
                    if (!any_front(*p.w, p.c, p.r, p.bc, p.bh, qback, fs.eps))
                        continue;
                }
            }
            ++n;
            int to = to_of[k];
            back |= to == p.to;
            if (!bit(seen, to)) {
                set_bit(seen, to);
                stack[top++] = to;
            }
        }
        if (top == 0)
            break;
        leaf = stack[--top];
    }
    // The leaves the flood leads into are those it opened.
    memcpy(p.lflood, seen, sizeof(word) * (size_t)lw);
    if (!back)
        p.lflood[p.to >> 6] &= ~((word)1 << (p.to & 63));
    p.nflood = n;
    p.nreach = 0;
    for (int j = 0; j < lw; ++j)
        p.nreach += __builtin_popcountll(p.lflood[j]);
}

unsigned int flood_thread(void* arg)
{
    flow_state& fs = *static_cast<flow_state*>(arg);
    int* stack = KD_NEW int[fs.nleaves + 1];
    word* seen = KD_NEW word[(fs.nleaves + 63) / 64 + 1];
    int32_t* cls = KD_NEW int32_t[fs.npad + 1];
    uint16_t* made = KD_NEW uint16_t[fs.npad / first_pass::BLOCK + 1];
    if (!stack || !seen || !cls || !made)
        fs.failed.store(1);
    for (;;) {
        int k = fs.next.fetch_add(1);
        if (k >= fs.ndp || fs.failed.load())
            break;
        flood(fs, k, stack, seen, cls, made);
    }
    delete[] stack;
    delete[] seen;
    delete[] cls;
    delete[] made;
    return 0;
}

// Runs f on `threads` workers (this thread one of them) until it returns.
void run_workers(thread_func f, flow_state* fs, int threads)
{
    void* handle[64];
    int started = 0;
    for (int k = 1; k < threads && k < 64; ++k)
        if (platform_start_thread(f, fs, &handle[started]) == 0)
            ++started;
    f(fs);
    for (int k = 0; k < started; ++k)
        platform_join_thread(handle[k]);
}

// One step of a chain, as kept on the way down.
struct step {
    winding3 source, pass;
    const dportal* entry = nullptr;  // the portal passed last
    word* might = nullptr;           // leaves that might still be seen
    grow_array<dplane> seps;         // the separating planes of source and pass
};

struct flow_worker {
    flow_state* fs;
    grow_array<step*> blocks;  // steps by depth, STEP_BLOCK a block; steps never move
    winding3 scratch;
    int base = 0;  // the directed portal being flowed
    grow_array<int> runs;  // [start, end) word pairs of the base's flood that are non-zero
    long steps_taken = 0;
    int depth_max = 0;  // of the base's chains
    enum { STEP_BLOCK = 64 };

    ~flow_worker()
    {
        for (int k = 0; k < blocks.n; ++k) {
            delete[] blocks[k][0].might;
            delete[] blocks[k];
        }
    }

    step* at(int depth)
    {
        while (depth >= blocks.n * STEP_BLOCK) {
            step* s = KD_NEW step[STEP_BLOCK];
            word* m = KD_NEW word[(size_t)STEP_BLOCK * fs->lwords + 1];
            if (!s || !m || !blocks.push(s)) {
                delete[] s;
                delete[] m;
                return nullptr;
            }
            for (int k = 0; k < STEP_BLOCK; ++k)
                s[k].might = m + (size_t)k * fs->lwords;
        }
        return &blocks[depth / STEP_BLOCK][depth % STEP_BLOCK];
    }

    // The planes that bound what can be seen from source through pass,
    // appended to out: every plane through an edge of one and a point of the
    // other that has them on opposite sides, facing the seen side. flip: the
    // planes are made with pass as the first. False on allocation failure.
    bool separate(const winding3& source, const winding3& pass, bool flip, grow_array<dplane>* out)
    {
        double eps = fs->eps;
        for (int i = 0; i < source.n; ++i) {
            int l = (i + 1) % source.n;
            const double* a = source.at(i);
            const double* b = source.at(l);
            double v1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            for (int j = 0; j < pass.n; ++j) {
                const double* q = pass.at(j);
                double v2[3] = {q[0] - a[0], q[1] - a[1], q[2] - a[2]};
                dplane pl;
                pl.n[0] = v1[1] * v2[2] - v1[2] * v2[1];
                pl.n[1] = v1[2] * v2[0] - v1[0] * v2[2];
                pl.n[2] = v1[0] * v2[1] - v1[1] * v2[0];
                double len = std::sqrt(pl.n[0] * pl.n[0] + pl.n[1] * pl.n[1] + pl.n[2] * pl.n[2]);
                if (len < 1e-9)
                    continue;
                for (int c = 0; c < 3; ++c)
                    pl.n[c] /= len;
                pl.d = pl.n[0] * q[0] + pl.n[1] * q[1] + pl.n[2] * q[2];
                // Which side holds the source?
                int k = 0;
                bool flipped = false;
                for (; k < source.n; ++k) {
                    if (k == i || k == l)
                        continue;
                    double d = pl.dist(source.at(k));
                    if (d < -eps)
                        break;
                    if (d > eps) {
                        flipped = true;
                        break;
                    }
                }
                if (k == source.n)
                    continue;  // in the source's plane
                if (flipped)
                    pl.flip();
                // A separating plane has the whole pass on its front side.
                int front = 0;
                for (k = 0; k < pass.n; ++k) {
                    if (k == j)
                        continue;
                    double d = pl.dist(pass.at(k));
                    if (d < -eps)
                        break;
                    if (d > eps)
                        ++front;
                }
                if (k != pass.n || !front)
                    continue;
                if (flip)
                    pl.flip();
                if (!out->push(pl))
                    return false;
            }
        }
        return true;
    }

    // Whether some leaf of might that lvis lacks has a cell reaching into the
    // passage that planes bound; with `add`, every such leaf joins lvis.
    bool reach(const word* might, word* lvis, const grow_array<dplane>& planes, bool add)
    {
        int first = 0;
        bool found = false;
        for (int r = 0; r < runs.n; r += 2)
            for (int j = runs[r]; j < runs[r + 1]; ++j) {
                word cand = might[j] & ~lvis[j];
                if (!cand || !fs->word_in(j, &planes[0], planes.n, &first))
                    continue;
                for (word b = cand; b; b &= b - 1)
                    if (fs->cell_in(j * 64 + __builtin_ctzll(b), &planes[0], planes.n, &first)) {
                        if (!add)
                            return true;
                        found = true;
                        lvis[j] |= b & -b;
                    }
            }
        return found;
    }

    // Follows the chains from `leaf`, reached at `depth`: the step there
    // holds the passage that led in (its source, pass and the planes of its
    // sides, none at depth 0) and what might be seen through it. False on
    // failure.
    bool recurse(int leaf, int depth)
    {
        flow_state& f = *fs;
        dportal& bp = f.dp[base];
        step* pp = at(depth);
        step* cp = at(depth + 1);
        if (!pp || !cp)
            return false;
        step& prev = *pp;
        step& cur = *cp;
        for (int k = f.leaf_start[leaf]; k < f.leaf_start[leaf + 1]; ++k) {
            dportal& q = f.dp[k];
            if (!bit(prev.might, q.to))
                continue;
            // A portal behind the base portal, or in the plane of the base or
            // of the portal just passed, passes only lines lying in that
            // plane: nothing is seen through it.
            double d = bp.plane.dist(q.c);
            if (d < -q.r - f.eps)
                continue;
            // (The centre is the mean of the points: a winding in a plane
            // has its centre within the thickness of it.)
            if ((std::fabs(d) <= f.eps && winding_side(*q.w, bp.plane, f.eps) == PL_ONPLANE) ||
                (prev.entry && std::fabs(prev.entry->plane.dist(q.c)) <= f.eps &&
                 winding_side(*q.w, prev.entry->plane, f.eps) == PL_ONPLANE))
                continue;
            // The part of q beyond the base portal, and the part of the
            // source behind q.
            if (!cur.pass.assign(*q.w) || (d - q.r <= f.eps && !winding_chop(cur.pass, bp.plane, f.eps, scratch)))
                return false;
            if (cur.pass.n < 3)
                continue;
            // The source lies within the base portal's sphere: most portals
            // have all of it behind them, and it stays whole.
            dplane qback = q.plane;
            qback.flip();
            if (!cur.source.assign(prev.source) ||
                (qback.dist(bp.c) <= bp.r + f.eps && !winding_chop(cur.source, qback, f.eps, scratch)))
                return false;
            if (cur.source.n < 3)
                continue;
            // The pass lies within q's sphere: a plane with the sphere in
            // front of it leaves the pass whole.
            for (int j = 0; j < prev.seps.n && cur.pass.n >= 3; ++j)
                if (prev.seps[j].dist(q.c) <= q.r + f.eps && !winding_chop(cur.pass, prev.seps[j], f.eps, scratch))
                    return false;
            if (cur.pass.n < 3)
                continue;
            set_bit(bp.lvis, q.to);
            const word* test = !f.exhaustive && q.done.load(std::memory_order_acquire) ? q.lvis : q.lflood;
            word more = 0;
            for (int r = 0; r < runs.n; r += 2)
                for (int j = runs[r]; j < runs[r + 1]; ++j) {
                    cur.might[j] = prev.might[j] & test[j];
                    more |= cur.might[j] & ~bp.lvis[j];
                }
            if (!more && !f.exhaustive)
                continue;
            bool last = !f.exhaustive && (steps_taken > f.budget || depth >= depth_max);
            if (last && !f.narrow_ends) {
                // Out of steps where the lists stay small: all that might be
                // seen beyond q counts as seen.
                for (int r = 0; r < runs.n; r += 2)
                    for (int j = runs[r]; j < runs[r + 1]; ++j)
                        bp.lvis[j] |= cur.might[j];
                continue;
            }
            // What lies beyond q and is seen through it lies within the
            // passage from the source through q: q's plane and the planes of
            // the passage's sides bound it.
            cur.seps.n = 0;
            if (!cur.seps.push(q.plane) || !separate(cur.source, cur.pass, false, &cur.seps) ||
                !separate(cur.pass, cur.source, true, &cur.seps))
                return false;
            if (f.exhaustive) {
                cur.entry = &q;
                if (!recurse(q.to, depth + 1))
                    return false;
                continue;
            }
            // Out of steps: what might be seen beyond q and reaches into the
            // passage counts as seen.
            if (last) {
                reach(cur.might, bp.lvis, cur.seps, true);
                continue;
            }
            // Nothing new can be seen through q: leave it.
            if (!reach(cur.might, bp.lvis, cur.seps, false))
                continue;
            cur.entry = &q;
            ++steps_taken;
            if (!recurse(q.to, depth + 1))
                return false;
        }
        return true;
    }

    bool flow(int pi)
    {
        base = pi;
        dportal& p = fs->dp[pi];
        step* sp = at(0);
        if (!sp)
            return false;
        step& s0 = *sp;
        if (!s0.source.assign(*p.w))
            return false;
        s0.seps.n = 0;
        s0.entry = &p;
        // The sets of the chains from p lie within the leaves of p's flood:
        // only the runs of its non-zero words are read or written.
        runs.n = 0;
        for (int j = 0; j < fs->lwords; ++j)
            if (p.lflood[j] && (runs.n == 0 || runs[runs.n - 1] != j)) {
                if (!runs.push(j) || !runs.push(j + 1))
                    return false;
            } else if (p.lflood[j]) {
                runs[runs.n - 1] = j + 1;
            }
        for (int r = 0; r < runs.n; r += 2)
            memcpy(s0.might + runs[r], p.lflood + runs[r], sizeof(word) * (size_t)(runs[r + 1] - runs[r]));
        steps_taken = 0;
        depth_max = fs->depth_max + (p.nreach > fs->deeper_from);
        return recurse(p.to, 0);
    }
};

unsigned int flow_thread(void* arg)
{
    flow_state& fs = *static_cast<flow_state*>(arg);
    flow_worker w;
    w.fs = &fs;
    for (;;) {
        int k = fs.next.fetch_add(1);
        if (k >= fs.ndp || fs.failed.load())
            break;
        int pi = fs.order[k];
        if (!w.flow(pi)) {
            fs.failed.store(1);
            break;
        }
        fs.dp[pi].done.store(1, std::memory_order_release);
    }
    return 0;
}

}  // namespace

int sound_build_vis(solid_bsp_t* t, sound_portals* portals, double eps, int threads, bool exhaustive, int* sealed)
{
    phase_timer timer(bsp_phase_times()->visibility);
    *sealed = 0;
    int n = t->stats.ni_nodes;
    flow_state fs;
    fs.eps = eps;
    fs.exhaustive = exhaustive;
    if (portals->list.n > 0) {
        long b = STEPS_TOTAL / (2L * portals->list.n);
        fs.budget = b > STEP_BUDGET_MAX ? STEP_BUDGET_MAX : (b < STEP_BUDGET_MIN ? STEP_BUDGET_MIN : b);
        for (const chain_depth& cd : CHAIN_DEPTHS)
            if (portals->list.n <= cd.portals) {
                fs.depth_max = cd.depth;
                break;
            }
    }
    int* leaf_of_node = KD_NEW int[n + 1];
    int* node_of_leaf = KD_NEW int[n + 1];
    if (!leaf_of_node || !node_of_leaf) {
        delete[] leaf_of_node;
        delete[] node_of_leaf;
        ELOG(EL_MAJOR, "_build_pvs(): unable to allocate the visibility tables");
        return -1;
    }
    int nl = 0;
    for (int k = 0; k < n; ++k) {
        bsp_index_t* b = t->i_nodes[k];
        if (FLAG_ISSET(b->flags, BN_ISLEAF) && !FLAG_ISSET(b->flags, BN_ISSOLID))
            node_of_leaf[nl++] = k;
    }
    for (int k = 0; k < n; ++k)
        leaf_of_node[k] = -1;
    for (int k = 0; k < nl; ++k)
        leaf_of_node[node_of_leaf[k]] = k;
    fs.nleaves = nl;
    int nthreads = threads > 0 ? threads : platform_processor_count();
    nthreads = nthreads < 1 ? 1 : (nthreads > 64 ? 64 : nthreads);
    int np = portals->list.n;
    fs.lwords = (nl + 63) / 64;
    fs.ndp = 2 * np;
    fs.dp = KD_NEW dportal[fs.ndp + 1];
    fs.leaf_start = KD_NEW int[nl + 2];
    fs.fl = KD_NEW flood_entry[fs.ndp + 1];
    fs.order = KD_NEW int[fs.ndp + 1];
    fs.lbits = KD_NEW word[(size_t)fs.ndp * 2 * fs.lwords + 1];
    fs.pw = KD_NEW winding3[fs.ndp + 1];
    fs.npad = (fs.ndp + first_pass::BLOCK - 1) / first_pass::BLOCK * first_pass::BLOCK;
    fs.soa = KD_NEW float[(size_t)flow_state::ARRAYS * fs.npad + 1];
    fs.to = KD_NEW int[fs.ndp + 1];
    fs.cell = KD_NEW double[6 * (size_t)nl + 1];
    fs.wcell = KD_NEW double[6 * (size_t)fs.lwords + 1];
    int* stack = KD_NEW int[fs.ndp + nl + 1];
    int result = 0;
    if (!fs.dp || !fs.fl || !fs.leaf_start || !fs.order || !fs.lbits || !fs.pw || !fs.soa || !fs.to || !fs.cell ||
        !fs.wcell || !stack) {
        ELOG(EL_MAJOR, "_build_pvs(): unable to allocate the visibility tables");
        result = -1;
    }
    if (result == 0) {
        memset(fs.lbits, 0, sizeof(word) * ((size_t)fs.ndp * 2 * fs.lwords + 1));
        for (int k = 0; k < nl; ++k) {
            const double* box = portals->cell ? portals->cell[node_of_leaf[k]] : nullptr;
            double* c = fs.cell + 6 * (size_t)k;
            c[3] = -1;
            if (!box || !(box[0] <= box[3] && box[1] <= box[4] && box[2] <= box[5]))
                continue;
            for (int a = 0; a < 3; ++a) {
                c[a] = 0.5 * (box[a] + box[3 + a]);
                c[3 + a] = 0.5 * (box[3 + a] - box[a]) + eps;
            }
        }
        for (int j = 0; j < fs.lwords; ++j) {
            double lo[3], hi[3];
            bool known = true;
            for (int k = j * 64; k < nl && k < j * 64 + 64 && known; ++k) {
                const double* c = fs.cell + 6 * (size_t)k;
                known = c[3] >= 0;
                for (int a = 0; a < 3 && known; ++a) {
                    lo[a] = k == j * 64 || c[a] - c[3 + a] < lo[a] ? c[a] - c[3 + a] : lo[a];
                    hi[a] = k == j * 64 || c[a] + c[3 + a] > hi[a] ? c[a] + c[3 + a] : hi[a];
                }
            }
            double* w = fs.wcell + 6 * (size_t)j;
            w[3] = -1;
            for (int a = 0; a < 3 && known; ++a) {
                w[a] = 0.5 * (lo[a] + hi[a]);
                w[3 + a] = 0.5 * (hi[a] - lo[a]);
            }
        }
        memset(fs.leaf_start, 0, sizeof(int) * (size_t)(nl + 2));
        for (int k = 0; k < np; ++k) {
            ++fs.leaf_start[leaf_of_node[portals->list[k]->back] + 1];
            ++fs.leaf_start[leaf_of_node[portals->list[k]->front] + 1];
        }
        for (int k = 0; k < nl; ++k)
            fs.leaf_start[k + 1] += fs.leaf_start[k];
        int* at = stack;  // reused as the fill positions, then as the flood stack
        memcpy(at, fs.leaf_start, sizeof(int) * (size_t)nl);
        for (int k = 0; k < np; ++k) {
            sound_portal* sp = portals->list[k];
            for (int dir = 0; dir < 2; ++dir) {
                // dir 0: from the back leaf into the front leaf.
                int from = leaf_of_node[dir ? sp->front : sp->back];
                int i = at[from]++;
                dportal& d = fs.dp[i];
                if (!fs.pw[i].assign(sp->w))
                    result = -1;
                d.w = &fs.pw[i];
                d.plane = sp->plane;
                d.from = from;
                d.to = leaf_of_node[dir ? sp->back : sp->front];
                if (dir)
                    d.plane.flip();
                sp->w.sphere(d.c, &d.r);
                box_of(sp->w, d.bc, d.bh);
                d.lflood = fs.lbits + (size_t)i * 2 * fs.lwords;
                d.lvis = d.lflood + fs.lwords;
                d.done.store(0);
                flood_entry& e = fs.fl[i];
                for (int a = 0; a < 3; ++a) {
                    e.c[a] = (float)d.c[a];
                    e.n[a] = (float)d.plane.n[a];
                }
                e.r = (float)d.r;
                e.d = (float)d.plane.d;
                fs.to[i] = d.to;
                const float col[flow_state::ARRAYS] = {e.c[0], e.c[1], e.c[2], e.r, e.n[0], e.n[1], e.n[2], e.d};
                for (int c = 0; c < flow_state::ARRAYS; ++c)
                    fs.column(c)[i] = col[c];
            }
        }
        // Padding that every test fails: a point far behind every plane.
        for (int i = fs.ndp; i < fs.npad; ++i)
            for (int c = 0; c < flow_state::ARRAYS; ++c)
                fs.column(c)[i] = c == flow_state::R ? -1e30f : 0;
        if (result != 0)
            ELOG(EL_MAJOR, "_build_pvs(): unable to allocate the visibility tables");
        // The flow works on copies of all it reads of the portals.
        portals->clear();
    }
    if (result == 0) {
        fs.next.store(0);
        run_workers(flood_thread, &fs, nthreads);
        fs.next.store(0);
        delete[] fs.fl;  // only the flood reads it
        fs.fl = nullptr;
        // The lists the coarse sets would make: as many leaves per leaf as
        // a directed portal reaches on average.
        double reached = 0;
        for (int k = 0; k < fs.ndp; ++k)
            reached += fs.dp[k].nreach;
        double list_bytes = fs.ndp ? reached / fs.ndp * nl * sizeof(d_node) : 0;
        int deeper = (int)(list_bytes / LIST_BYTES_DEEPER);
        fs.narrow_ends = deeper > 0;
        if (deeper > 0) {
            fs.depth_max += deeper < DEEPER_MAX ? deeper : DEEPER_MAX;
            fs.deeper_from = (int)(LARGE_SET * nl);
        }
        // Portals that see least go first: their sets then bound the others.
        for (int k = 0; k < fs.ndp; ++k)
            fs.order[k] = k;
        dportal* dp = fs.dp;
        std::sort(fs.order, fs.order + fs.ndp, [dp](int a, int b) { return dp[a].nflood < dp[b].nflood; });
    }
    delete[] stack;

    if (result == 0) {
        run_workers(flow_thread, &fs, nthreads);
        if (fs.failed.load()) {
            ELOG(EL_MAJOR, "_build_pvs(): unable to allocate the visibility tables");
            result = -1;
        }
    }

    // Each leaf's set: the far leaves of what its portals see, made symmetric.
    int lw = (nl + 63) / 64;
    word* sets = result == 0 ? KD_NEW word[(size_t)nl * lw + 1] : nullptr;
    word* seen_by = result == 0 ? KD_NEW word[(size_t)nl * lw + 1] : nullptr;  // the sets turned over
    if (result == 0 && (!sets || !seen_by)) {
        ELOG(EL_MAJOR, "_build_pvs(): unable to allocate the visibility tables");
        result = -1;
    }
    if (result == 0) {
        memset(sets, 0, sizeof(word) * ((size_t)nl * lw + 1));
        for (int k = 0; k < fs.ndp; ++k) {
            word* s = sets + (size_t)fs.dp[k].from * lw;
            set_bit(s, fs.dp[k].to);
            const word* v = fs.dp[k].lvis;
            for (int j = 0; j < lw; ++j)
                s[j] |= v[j];
        }
        // The portals are done with: their memory goes before the lists grow.
        fs.release();
        // Each direction is found from a superset of the real sightlines,
        // which run both ways: only what both agree on can be real.
        memset(seen_by, 0, sizeof(word) * ((size_t)nl * lw + 1));
        for (int a = 0; a < nl; ++a)
            for (int j = 0; j < lw; ++j)
                for (word b = sets[(size_t)a * lw + j]; b; b &= b - 1)
                    set_bit(seen_by + (size_t)(j * 64 + __builtin_ctzll(b)) * lw, a);
        for (size_t j = 0; j < (size_t)nl * lw; ++j)
            sets[j] &= seen_by[j];
        delete[] seen_by;
        seen_by = nullptr;
        for (int a = 0; a < nl && result == 0; ++a) {
            bsp_index_t* leaf = t->i_nodes[node_of_leaf[a]];
            leaf->visible_leafs.delete_nodes();
            if (fs.leaf_start[a] == fs.leaf_start[a + 1]) {
                ++*sealed;
                ELOG(EL_MINOR, "_build_pvs(): leaf %d has no portals: a sealed pocket, it sees nothing",
                     node_of_leaf[a]);
                continue;
            }
            const word* s = sets + (size_t)a * lw;
            for (int j = 0; j < lw && result == 0; ++j)
                for (word bits = s[j]; bits; bits &= bits - 1) {
                    int b = j * 64 + __builtin_ctzll(bits);
                    if (b != a && leaf->visible_leafs.insert((void*)(intptr_t)node_of_leaf[b]) != 0) {
                        ELOG(EL_MAJOR, "bsp_poly::add_visible_leaf(): unable to add _visible_leaf");
                        result = -1;
                        break;
                    }
                }
        }
    }
    delete[] sets;
    delete[] seen_by;
    delete[] leaf_of_node;
    delete[] node_of_leaf;
    return result;
}

}  // namespace vantrel
