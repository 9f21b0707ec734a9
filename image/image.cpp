#include "image/image_local.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "platform/platform.h"
#include "image/bmp/bmp.h"
#include "image/tga/tga.h"
#include "kdbase/cfile.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "kdbase/str_util.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

int bit_fields_t::nbits()
{
    return mask32_nbits(red_mask | green_mask | blue_mask | alpha_mask);
}

int bit_fields_t::nbytes()
{
    return (nbits() + 7) / 8;
}

void bit_fields_t::set(unsigned int r, unsigned int g, unsigned int b, unsigned int a)
{
    red_mask = r;
    green_mask = g;
    blue_mask = b;
    alpha_mask = a;
}

int get_padding(bit_fields_t* _fields, int width)
{
    CHECK_PTR(_fields, 0);
    unsigned int row = (unsigned int)_fields->nbytes() * (unsigned int)width;
    return (int)((4 - row % 4) % 4);
}

// Bytes of height rows of width pixels of nbytes each, padded to 4 bytes; 0
// when that is more than one object can hold.
static size_t image_size(int width, int height, int nbytes)
{
    size_t row = ((size_t)width * (size_t)nbytes + 3) & ~(size_t)3;
    if (height != 0 && row > (size_t)PTRDIFF_MAX / (size_t)height)
        return 0;
    return row * (size_t)height;
}

image_t::image_t() : width(0), height(0), fields{0, 0, 0, 0}, bits(nullptr) {}

image_t::~image_t()
{
    delete_bits();
}

// Allocates img's bits for the size and format; the pixel bytes are zeroed
// only when asked (readers fill every byte themselves).
static int allocate(image_t* img, int width, int height, const bit_fields_t& f, bool zero)
{
    img->delete_bits();
    bit_fields_t g = f;
    int nb = g.nbytes();
    if (width <= 0 || height <= 0 || nb == 0) {
        ELOG(EL_MINOR, "image_t::alloc_bits(): invalid image %dx%d of %d bits", width, height, g.nbits());
        return -1;
    }
    size_t n = image_size(width, height, nb);
    if (n == 0) {
        ELOG(EL_MINOR, "image_t::alloc_bits(): image %dx%d too large", width, height);
        return -1;
    }
    img->bits = KD_NEW unsigned char[n];
    if (!img->bits)
        return -1;
    if (zero)
        memset(img->bits, 0, n);
    img->width = width;
    img->height = height;
    img->fields = g;
    return 0;
}

int image_t::alloc_bits(int _width, int _height, unsigned int r, unsigned int g, unsigned int b, unsigned int a)
{
    bit_fields_t f;
    f.set(r, g, b, a);
    return allocate(this, _width, _height, f, true);
}

void image_t::delete_bits()
{
    delete[] bits;
    bits = nullptr;
}

size_t image_t::row_size()
{
    return ((size_t)width * (size_t)fields.nbytes() + 3) & ~(size_t)3;
}

void image_t::take_bits(image_t* from)
{
    delete_bits();
    width = from->width;
    height = from->height;
    fields = from->fields;
    bits = from->bits;
    from->bits = nullptr;
    from->width = from->height = 0;
    from->fields.set(0, 0, 0, 0);
}

namespace {

int trailing_zeros(uint32_t m)
{
    return m ? __builtin_ctz(m) : 0;
}

// Channels present in both formats; the others contribute nothing (an absent
// source channel yields 0, an absent destination channel is dropped).
// Channels that move by the same shift and lose no bits on the way (every
// whole-byte channel of the 24- and 32-bit formats, for one) become one move
// of their masks together: a straight copy or a byte swap costs one or a few
// operations per pixel rather than one per channel.
int plan_moves(const bit_fields_t& from, const bit_fields_t& to, channel_move* moves)
{
    const uint32_t src[4] = {from.red_mask, from.green_mask, from.blue_mask, from.alpha_mask};
    const uint32_t dst[4] = {to.red_mask, to.green_mask, to.blue_mask, to.alpha_mask};
    int n = 0;
    for (int c = 0; c < 4; ++c) {
        if (!src[c] || !dst[c])
            continue;
        int net = trailing_zeros(dst[c]) + mask32_nbits(dst[c]) - mask32_nbits(src[c]) - trailing_zeros(src[c]);
        channel_move m = {src[c], dst[c], net > 0 ? net : 0, net < 0 ? -net : 0};
        bool whole = ((m.src_mask << m.lshift >> m.rshift) & ~m.dst_mask) == 0;
        int k = 0;
        while (k < n && !(whole && moves[k].lshift == m.lshift && moves[k].rshift == m.rshift &&
                          ((moves[k].src_mask << m.lshift >> m.rshift) & ~moves[k].dst_mask) == 0))
            ++k;
        if (k == n)
            moves[n++] = m;
        else {
            moves[k].src_mask |= m.src_mask;
            moves[k].dst_mask |= m.dst_mask;
        }
    }
    return n;
}

// Pixels are little-endian whatever the machine. On a little-endian host a
// pixel of 2 or 4 bytes is one plain load or store, which the vectorizer can
// widen; otherwise (and for 3 bytes) it is put together byte by byte.
inline bool host_little_endian()
{
    const uint16_t one = 1;
    unsigned char low;
    memcpy(&low, &one, 1);
    return low == 1;
}

template <int N>
inline uint32_t load_pixel(const unsigned char* p)
{
    if constexpr (N == 2 || N == 4) {
        if (host_little_endian()) {
            std::conditional_t<N == 2, uint16_t, uint32_t> v;
            memcpy(&v, p, N);
            return v;
        }
    }
    uint32_t v = p[0];
    if constexpr (N > 1)
        v |= (uint32_t)p[1] << 8;
    if constexpr (N > 2)
        v |= (uint32_t)p[2] << 16;
    if constexpr (N > 3)
        v |= (uint32_t)p[3] << 24;
    return v;
}

template <int N>
inline void store_pixel(unsigned char* p, uint32_t v)
{
    if constexpr (N == 2 || N == 4) {
        if (host_little_endian()) {
            std::conditional_t<N == 2, uint16_t, uint32_t> w = (std::conditional_t<N == 2, uint16_t, uint32_t>)v;
            memcpy(p, &w, N);
            return;
        }
    }
    p[0] = (unsigned char)v;
    if constexpr (N > 1)
        p[1] = (unsigned char)(v >> 8);
    if constexpr (N > 2)
        p[2] = (unsigned char)(v >> 16);
    if constexpr (N > 3)
        p[3] = (unsigned char)(v >> 24);
}

// Eight bytes as one little-endian number.
inline uint64_t load_word(const unsigned char* p)
{
    uint64_t v = 0;
    if (host_little_endian()) {
        memcpy(&v, p, 8);
        return v;
    }
    for (int k = 7; k >= 0; --k)
        v = v << 8 | p[k];
    return v;
}

inline void store_word(unsigned char* p, uint64_t v)
{
    if (host_little_endian()) {
        memcpy(p, &v, 8);
        return;
    }
    for (int k = 0; k < 8; ++k, v >>= 8)
        p[k] = (unsigned char)v;
}

// Three-byte pixels eight at a time: three 8-byte words hold them, so that
// no pixel is put together byte by byte.
inline void load_eight_24(const unsigned char* p, uint32_t* v)
{
    const uint64_t w0 = load_word(p), w1 = load_word(p + 8), w2 = load_word(p + 16), low = 0xFFFFFF;
    v[0] = (uint32_t)(w0 & low);
    v[1] = (uint32_t)(w0 >> 24 & low);
    v[2] = (uint32_t)((w0 >> 48 | w1 << 16) & low);
    v[3] = (uint32_t)(w1 >> 8 & low);
    v[4] = (uint32_t)(w1 >> 32 & low);
    v[5] = (uint32_t)((w1 >> 56 | w2 << 8) & low);
    v[6] = (uint32_t)(w2 >> 16 & low);
    v[7] = (uint32_t)(w2 >> 40);
}

// The values must fit in 24 bits.
inline void store_eight_24(unsigned char* p, const uint32_t* v)
{
    store_word(p, v[0] | (uint64_t)v[1] << 24 | (uint64_t)v[2] << 48);
    store_word(p + 8, v[2] >> 16 | (uint64_t)v[3] << 8 | (uint64_t)v[4] << 32 | (uint64_t)v[5] << 56);
    store_word(p + 16, v[5] >> 8 | (uint64_t)v[6] << 16 | (uint64_t)v[7] << 40);
}

// Applies f to count pixels of S bytes from src and stores the results as
// pixels of D bytes at dst. Each group of pixels is loaded before any is
// stored, so src may be dst when S equals D. Rows of 3-byte pixels go eight
// pixels (three 8-byte words) at a time; the others one pixel per word,
// which the compiler can widen.
template <int S, int D, typename F>
inline void map_pixels(const unsigned char* src, unsigned char* dst, int count, F f)
{
    int i = 0;
    if constexpr (S == 3 || D == 3) {
        for (; i + 8 <= count; i += 8, src += 8 * S, dst += 8 * D) {
            uint32_t v[8];
            if constexpr (S == 3)
                load_eight_24(src, v);
            else
                for (int k = 0; k < 8; ++k)
                    v[k] = load_pixel<S>(src + k * S);
            for (int k = 0; k < 8; ++k)
                v[k] = f(v[k]);
            if constexpr (D == 3)
                store_eight_24(dst, v);
            else
                for (int k = 0; k < 8; ++k)
                    store_pixel<D>(dst + k * D, v[k]);
        }
    }
    if constexpr (S == 4 && D == 2) {
        // Two results to a word: the compiler's narrowing of whole vectors
        // costs more than the work on the pixels.
        for (; i + 2 <= count; i += 2, src += 8, dst += 4)
            store_pixel<4>(dst, (f(load_pixel<4>(src)) & 0xFFFFu) | f(load_pixel<4>(src + 4)) << 16);
    }
    for (; i < count; ++i, src += S, dst += D)
        store_pixel<D>(dst, f(load_pixel<S>(src)));
}

// The channel count is a template argument and the channels are spelled out,
// so that the per-pixel work has no loop left: the hot path of every
// conversion.
template <int S, int D, int M>
void convert_row(const unsigned char* src, unsigned char* dst, int count, const channel_move* moves)
{
    if constexpr (S == 3 && M > 1 && D != 3) {
        // Several moves per pixel run far faster on whole words, which the
        // compiler can widen: short runs are spread to 4 bytes a pixel first,
        // in a buffer that stays in the cache. Between 3-byte formats the
        // moves on eight pixels straight from their words cost less than
        // spreading and packing again.
        unsigned char words[4 * 256];
        auto same = [](uint32_t v) { return v; };
        for (int done = 0; done < count; done += 256) {
            int k = std::min(256, count - done);
            map_pixels<3, 4>(src + (size_t)3 * done, words, k, same);
            convert_row<4, D, M>(words, dst + (size_t)D * done, k, moves);
        }
        return;
    }
    uint32_t sm[4] = {0, 0, 0, 0}, dm[4] = {0, 0, 0, 0};
    int ls[4] = {0, 0, 0, 0}, rs[4] = {0, 0, 0, 0};
    for (int c = 0; c < M; ++c) {
        sm[c] = moves[c].src_mask;
        dm[c] = moves[c].dst_mask;
        ls[c] = moves[c].lshift;
        rs[c] = moves[c].rshift;
    }
    map_pixels<S, D>(src, dst, count, [&](uint32_t in) {
        uint32_t out = 0;
        if constexpr (M > 0)
            out |= ((in & sm[0]) << ls[0] >> rs[0]) & dm[0];
        if constexpr (M > 1)
            out |= ((in & sm[1]) << ls[1] >> rs[1]) & dm[1];
        if constexpr (M > 2)
            out |= ((in & sm[2]) << ls[2] >> rs[2]) & dm[2];
        if constexpr (M > 3)
            out |= ((in & sm[3]) << ls[3] >> rs[3]) & dm[3];
        return out;
    });
}

template <int S, int D>
void convert_row_moves(const unsigned char* src, unsigned char* dst, int count, const channel_move* moves, int n)
{
    switch (n) {
    case 0: convert_row<S, D, 0>(src, dst, count, moves); break;
    case 1: convert_row<S, D, 1>(src, dst, count, moves); break;
    case 2: convert_row<S, D, 2>(src, dst, count, moves); break;
    case 3: convert_row<S, D, 3>(src, dst, count, moves); break;
    default: convert_row<S, D, 4>(src, dst, count, moves); break;
    }
}

template <int S>
void convert_row_to(int to_nbytes, const unsigned char* src, unsigned char* dst, int count,
                    const channel_move* moves, int nmoves)
{
    switch (to_nbytes) {
    case 1: convert_row_moves<S, 1>(src, dst, count, moves, nmoves); break;
    case 2: convert_row_moves<S, 2>(src, dst, count, moves, nmoves); break;
    case 3: convert_row_moves<S, 3>(src, dst, count, moves, nmoves); break;
    default: convert_row_moves<S, 4>(src, dst, count, moves, nmoves); break;
    }
}

}  // namespace

pixel_converter::pixel_converter(const bit_fields_t& from, int _from_nbytes, const bit_fields_t& to, int _to_nbytes)
    : from_nbytes(_from_nbytes), to_nbytes(_to_nbytes)
{
    plan.nmoves = plan_moves(from, to, plan.moves);
    wide = choose_wide_kernel(from_nbytes, to_nbytes, plan);
}

void pixel_converter::run(const unsigned char* src, unsigned char* dst, int count) const
{
    if (wide) {
        int done = wide(src, dst, count, plan);
        src += (size_t)from_nbytes * done;
        dst += (size_t)to_nbytes * done;
        count -= done;
    }
    const channel_move* moves = plan.moves;
    int n = plan.nmoves;
    switch (from_nbytes) {
    case 1: convert_row_to<1>(to_nbytes, src, dst, count, moves, n); break;
    case 2: convert_row_to<2>(to_nbytes, src, dst, count, moves, n); break;
    case 3: convert_row_to<3>(to_nbytes, src, dst, count, moves, n); break;
    default: convert_row_to<4>(to_nbytes, src, dst, count, moves, n); break;
    }
}

int image_t::convert(bit_fields_t* _fields, char** out)
{
    CHECK_PTR(_fields, -1);
    CHECK_PTR(bits, -1);
    bit_fields_t to = *_fields;
    int src_nb = fields.nbytes(), dst_nb = to.nbytes();
    if (src_nb == 0 || dst_nb == 0) {
        ELOG(EL_MINOR, "image_t::convert(): empty pixel format");
        return -1;
    }
    size_t n = image_size(width, height, dst_nb);
    if (n == 0) {
        ELOG(EL_MINOR, "image_t::convert(): image %dx%d too large", width, height);
        return -1;
    }
    char* data = KD_NEW char[n];
    if (!data)
        return -1;
    size_t src_row = row_size();
    size_t dst_pixels = (size_t)width * (size_t)dst_nb, pad = (4 - dst_pixels % 4) % 4;
    size_t dst_row = dst_pixels + pad;
    pixel_converter conv(fields, src_nb, to, dst_nb);
    for (int y = 0; y < height; ++y) {
        unsigned char* d = (unsigned char*)data + (size_t)y * dst_row;
        conv.run(bits + (size_t)y * src_row, d, width);
        memset(d + dst_pixels, 0, pad);
    }
    if (out) {
        *out = data;
        return 0;
    }
    delete[] bits;
    bits = (unsigned char*)data;
    fields = to;
    return 0;
}

// Reads k rows of row bytes into the block at dst, which they fill in the
// reverse order when bottom_up.
static void read_row_block(CFileE& f, unsigned char* dst, size_t row, int k, bool bottom_up)
{
    f.Read(dst, (int)(row * (size_t)k));
    if (!bottom_up)
        return;
    for (int i = 0, j = k - 1; i < j; ++i, --j)
        std::swap_ranges(dst + (size_t)i * row, dst + (size_t)(i + 1) * row, dst + (size_t)j * row);
}

int read_pixel_rows(image_t* img, CFileE& f, int width, int height, const bit_fields_t& fields, size_t file_row,
                    bool top_down)
{
    long pos = f.GetPos(), size = f.GetSize();
    size_t left = pos >= 0 && pos <= size ? (size_t)(size - pos) : 0;
    if (file_row > INT_MAX || (size_t)height > left / file_row) {
        ELOG(EL_MINOR, "%s: pixel data goes beyond the end of the file", f.Name());
        return -1;
    }
    image_t read;
    if (allocate(&read, width, height, fields, false) != 0)
        return -1;
    size_t row = read.row_size(), pixels = (size_t)width * (size_t)read.fields.nbytes();
    if (file_row == row) {
        // Whole blocks of rows per read: few calls, straight into place.
        int per_block = (int)std::max<size_t>(1, (256 * 1024) / row);
        for (int done = 0; done < height; done += per_block) {
            int k = std::min(per_block, height - done);
            int first = top_down ? done : height - done - k;
            read_row_block(f, read.bits + (size_t)first * row, row, k, !top_down);
        }
    } else {
        for (int y = 0; y < height; ++y)
            f.Read(read.bits + (size_t)(top_down ? y : height - 1 - y) * row, (int)file_row);
    }
    for (int y = 0; y < height; ++y)
        memset(read.bits + (size_t)y * row + pixels, 0, row - pixels);
    img->take_bits(&read);
    return 0;
}

bit_fields_t write_format(image_t* img, unsigned int options, unsigned int alpha16)
{
    bit_fields_t f = img->fields;
    if (options & 1)
        f.set(0x7C00, 0x03E0, 0x001F, alpha16);
    else if (options & 2)
        f.set(0xFF0000, 0xFF00, 0xFF, 0);
    else if (options & 4)
        f.set(0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    return f;
}

namespace {

// The gathering blocks of write_pixel_rows, freed when their thread ends:
// one, or a ring of blocks once the thread has written a large image (see
// block_writer).
struct write_block {
    enum { size = 1024 * 1024, align = 64, parts = 3 };
    unsigned char* bytes = nullptr;
    int count = 0;  // blocks at bytes
    ~write_block() { delete[] bytes; }
};

// Writes the blocks handed to it on a thread of its own, so that the next
// block is converted while the system copies the last one into the file; the
// two take about as long each. Holds up to write_block::parts blocks; the
// thread ends (and is waited for) with the object.
class block_writer {
public:
    explicit block_writer(CFileE& _f) : f(_f) {}
    ~block_writer() { finish(); }
    block_writer(const block_writer&) = delete;
    block_writer& operator=(const block_writer&) = delete;

    bool start() { return platform_start_thread(run, this, &thread) == 0; }
    // Queues n bytes at p; they must stay untouched until room() says so.
    void hand(const unsigned char* p, size_t n)
    {
        std::lock_guard<std::mutex> l(m);
        queue[handed % write_block::parts] = {p, n};
        ++handed;
        changed.notify_all();
    }
    // Waits until the oldest block handed has been written when the ring is
    // full: false once a write failed.
    bool room()
    {
        std::unique_lock<std::mutex> l(m);
        changed.wait(l, [this] { return failed || handed - written < write_block::parts; });
        return !failed;
    }
    // Writes what is queued and ends the thread: false when a write failed.
    bool finish()
    {
        if (!thread)
            return !failed;
        {
            std::lock_guard<std::mutex> l(m);
            closing = true;
            changed.notify_all();
        }
        platform_join_thread(thread);
        thread = nullptr;
        return !failed;
    }

private:
    struct piece {
        const unsigned char* p;
        size_t n;
    };
    CFileE& f;
    void* thread = nullptr;
    std::mutex m;
    std::condition_variable changed;
    piece queue[write_block::parts] = {};
    long handed = 0, written = 0;
    bool closing = false, failed = false;

    // The thread: writes the queued blocks in order; the first short write
    // (thrown by CFileE) ends it.
    static unsigned int run(void* arg)
    {
        block_writer* w = static_cast<block_writer*>(arg);
        std::unique_lock<std::mutex> l(w->m);
        for (;;) {
            w->changed.wait(l, [w] { return w->written < w->handed || w->closing; });
            if (w->written == w->handed)
                return 0;
            piece next = w->queue[w->written % write_block::parts];
            l.unlock();
            bool ok = true;
            try {
                w->f.Write(next.p, (int)next.n);
            } catch (int) {
                ok = false;
            }
            l.lock();
            ++w->written;
            w->failed = !ok;
            w->changed.notify_all();
            if (!ok)
                return 0;
        }
    }
};

}  // namespace

void write_pixel_rows(image_t* img, CFileE& f, const bit_fields_t& target, size_t pad, bool bottom_up)
{
    bit_fields_t to = target;
    int src_nb = img->fields.nbytes(), dst_nb = to.nbytes();
    bool same = memcmp(&img->fields, &to, sizeof to) == 0;
    size_t src_row = img->row_size(), pixels = (size_t)img->width * (size_t)dst_nb;
    // The system copies a write into the file's pages faster (up to 1.7
    // times, measured) when the bytes sit at the same offset within a cache
    // line in memory as in the file: every write below starts at an address
    // that matches its file position modulo write_block::align.
    long at = f.GetPos();
    size_t pos = at > 0 ? (size_t)at : 0;
    const size_t align = write_block::align;
    auto lead = [&](const void* p) { return ((uintptr_t)p - pos) % align; };
    if (same && !bottom_up && pixels + pad == src_row && lead(img->bits) == 0) {
        // The file holds the rows exactly as memory does: straight out.
        const unsigned char* p = img->bits;
        for (size_t left = src_row * (size_t)img->height; left > 0;) {
            size_t n = std::min(left, (size_t)1 << 30);
            f.Write(p, (int)n);
            p += n;
            left -= n;
        }
        return;
    }
    // One write per block, not per row: rows (converted on the way) and
    // their padding are gathered here first. Each write has a fixed cost in
    // the system well above that of copying a row, so the block is large; it
    // is kept by the thread from one write to the next, so that it is neither
    // allocated nor faulted in again. Without the memory for it a smaller one
    // on the stack does the same with more writes. A converted image larger
    // than a block goes out through a block_writer from a ring of blocks, so
    // that converting overlaps writing where a second processor can take
    // the writes; a smaller one is not worth a thread, nor is copying rows.
    unsigned char small[16 * 1024 + 2 * write_block::align];
    static thread_local write_block kept;
    const size_t room = write_block::size + 2 * align;
    bool overlap = !same && (pixels + pad) * (size_t)img->height > write_block::size &&
                   platform_processor_count() > 1;
    int want = overlap ? write_block::parts : 1;
    if (kept.count < want) {
        if (unsigned char* more = KD_NEW unsigned char[(size_t)want * room]) {
            delete[] kept.bytes;
            kept.bytes = more;
            kept.count = want;
        }
    }
    block_writer writer(f);
    bool piped = overlap && kept.count == write_block::parts && writer.start();
    auto area_of = [&](int k) {
        unsigned char* a = kept.bytes ? kept.bytes + (size_t)k * room : small;
        return a + (align - (uintptr_t)a % align) % align;
    };
    int slot = 0;
    unsigned char* area = area_of(slot);
    size_t size = kept.bytes ? (size_t)write_block::size : sizeof small - 2 * align;
    unsigned char* block = area + pos % align;
    size_t used = 0;
    auto flush = [&] {
        if (used && piped) {
            writer.hand(block, used);
            slot = (slot + 1) % write_block::parts;
            area = area_of(slot);
            if (!writer.room())
                throw -1;
        } else if (used) {
            f.Write(block, (int)used);
        }
        pos += used;
        used = 0;
        block = area + pos % align;
    };
    pixel_converter conv(img->fields, src_nb, to, dst_nb);
    for (int i = 0; i < img->height; ++i) {
        int y = bottom_up ? img->height - 1 - i : i;
        const unsigned char* src = img->bits + (size_t)y * src_row;
        for (int x = 0; x < img->width;) {
            if (size - used < (size_t)dst_nb)
                flush();
            int n = (int)std::min<size_t>((size_t)(img->width - x), (size - used) / (size_t)dst_nb);
            if (same)
                memcpy(block + used, src + (size_t)x * (size_t)src_nb, (size_t)n * (size_t)dst_nb);
            else
                conv.run(src + (size_t)x * (size_t)src_nb, block + used, n);
            used += (size_t)n * (size_t)dst_nb;
            x += n;
        }
        if (size - used < pad)
            flush();
        memset(block + used, 0, pad);
        used += pad;
    }
    flush();
    if (!writer.finish())
        throw -1;
}

bool are_equal_images(image_t* _imgA, image_t* _imgB)
{
    CHECK_PTR(_imgA, false);
    CHECK_PTR(_imgA->bits, false);
    CHECK_PTR(_imgB, false);
    CHECK_PTR(_imgB->bits, false);
    const char* a = _imgA->name ? _imgA->name : "";
    const char* b = _imgB->name ? _imgB->name : "";
    const char* diff = nullptr;
    if (_imgA->width != _imgB->width)
        diff = "different width";
    else if (_imgA->height != _imgB->height)
        diff = "different height";
    else if (memcmp(&_imgA->fields, &_imgB->fields, sizeof(bit_fields_t)) != 0)
        diff = "different bit fields";
    else if (memcmp(_imgA->bits, _imgB->bits,
                    (size_t)_imgA->width * (size_t)_imgA->height * (size_t)_imgA->fields.nbytes()) != 0)
        diff = "different bits";
    if (!diff)
        return true;
    ELOG(EL_MINDEBUG, "%s/%s: %s", a, b, diff);
    return false;
}

void image_t::dump(FILE* _f, const char* tabs)
{
    CHECK_PTR_V(_f);
    const char* t = tabs ? tabs : "";
    groupable_t::dump(_f, tabs);
    fprintf(_f, "%swidth=%d height=%d\n", t, width, height);
    fprintf(_f, "%sred_mask=%08x green_mask=%08x blue_mask=%08x alpha_mask=%08x\n", t, fields.red_mask,
            fields.green_mask, fields.blue_mask, fields.alpha_mask);
    if (bits)
        dump_hex(_f, bits, width * height * fields.nbytes(), 79, t);
}

// The codecs, chosen by extension.
static image_io_t image_io_table[] = {
    {".bmp", bmp_read, bmp_write},
    {".tga", tga_read, tga_write},
    {"", nullptr, nullptr},
};

static bool same_text_ignoring_case(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

image_io_t* get_extension_io(const char* _extension)
{
    CHECK_PTR(_extension, nullptr);
    for (image_io_t* io = image_io_table; io->extension[0]; ++io)
        if (same_text_ignoring_case(io->extension, _extension))
            return io;
    ELOG(EL_MINOR, "%s file format not recognized", _extension);
    return nullptr;
}

// The common path of image_read and image_write: the codec by the extension
// of the file's name, the file opened here unless given, the codec run with a
// short read or write counted as a failure.
static int run_codec(image_t* img, const char* filename, CFileE* given, unsigned int* options, bool writing)
{
    const char* verb = writing ? "write" : "read";
    char ext[PATH_MAX_EXT];
    split_path(given ? given->Name() : filename, nullptr, nullptr, nullptr, ext);
    image_io_t* io = get_extension_io(ext);
    if (!io)
        return -1;
    if (writing ? !io->write : !io->read) {
        ELOG(EL_MINOR, "%s: %s() not impelemented", io->extension, verb);
        return -1;
    }
    CFileE own;
    CFileE* f = given ? given : &own;
    if (!given && !own.Open(filename, writing ? OM_WB : OM_RB))
        return -1;
    int r;
    try {
        r = writing ? io->write(img, *f, options) : io->read(img, *f);
    } catch (int) {
        r = -1;
    }
    // What is still buffered fails only when it reaches the file.
    if (writing && r != -1 && !given && fflush(own.fp) != 0)
        r = -1;
    if (r == -1) {
        ELOG(EL_MINOR, "%s: unable to %s", f->Name(), verb);
        return -1;
    }
    return 0;
}

int image_read(image_t* _image, const char* _filename, CFileE* _f)
{
    CHECK_PTR(_image, -1);
    CHECK_PTR(_filename || _f, -1);
    return run_codec(_image, _filename, _f, nullptr, false);
}

int image_write(image_t* _image, const char* _filename, unsigned int* options, CFileE* _f)
{
    CHECK_PTR(_image, -1);
    CHECK_PTR(_filename || _f, -1);
    return run_codec(_image, _filename, _f, options, true);
}

}  // namespace vantrel
