// Whole-MCU Huffman decoding (see block_decode_fast.h). Two readers share the
// look-up table:
// - the portable reader fills exactly when and as far as the portable kernel
//   does (to more than 24 bits when fewer than a read needs are held), so
//   markers, the end of memory data, a 0xFF as the last byte and file refill
//   failures are met at the same reads; where it cannot take the bytes four
//   at a time it calls the portable fill itself;
// - the wide reader follows the SIMD sets' kernels: it tops the accumulator up
//   to 56 bits and more, eight bytes at a time where none is 0xFF, and hands
//   the cases at markers and at the end of the data to the kernels' reader.
#include "decode/block_decode_fast.h"

#include <cstring>

#include "decode/bit_reader.h"
#include "decode/block_decode.h"
#include "decode/block_decode_wide.h"
#include "decode/input_source.h"
#include "transform/transform.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

constexpr uint32_t kFastMask = (1u << kFastLookupBits) - 1u;

// The per-symbol steps are inlined into the block loops; the rare cases
// (long codes, refills near markers and at the end of the data) are not.
#define QRL_HOT_INLINE inline __attribute__((always_inline))
#define QRL_COLD __attribute__((noinline, cold))

inline uint64_t load_be64(const uint8_t *p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return __builtin_bswap64(w);
}

inline uint32_t load_be32(const uint8_t *p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return __builtin_bswap32(w);
}

// Bytes of w (first stream byte in the top byte) before its first 0xFF, 0..8.
inline int32_t bytes_before_ff(uint64_t w) {
    const uint64_t v = ~w; // 0xFF bytes of w are the zero bytes of v
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    // High bit of each byte set exactly where v has a zero byte (no carries
    // cross byte borders).
    const uint64_t zero_bytes = ~(((v & kLow7) + kLow7) | v | kLow7);
    return zero_bytes == 0 ? 8 : __builtin_clzll(zero_bytes) >> 3;
}

inline void advance(INPUT_SOURCE *src, int32_t n) {
    src->cur += n;
    src->avail -= n;
    src->position += n;
}

// States in which every further bit reads as 0 until the restart step.
constexpr int32_t kNotRepeating = 0;
constexpr int32_t kDataEnded = 1;        // no byte left (and none after a marker)
constexpr int32_t kZerosAfterMarker = 2; // SIMD behaviour: a marker stopped the data
constexpr int32_t kStoppedAtMarker = 3;  // portable behaviour: no bit left before a marker

// Both readers hold the accumulator with the oldest valid bit at the top
// (bit 63) and zeros below the valid bits; INPUT_SOURCE holds the valid bits
// at the bottom. load_bits and store_bits convert.
inline uint64_t load_bits(const INPUT_SOURCE *src) {
    const int32_t n = src->bit_count;
    return n > 0 ? src->bit_buffer << (64 - n) : 0;
}
inline void store_bits(INPUT_SOURCE *src, uint64_t buf, int32_t cnt) {
    src->bit_buffer = cnt > 0 ? buf >> (64 - cnt) : 0;
    src->bit_count = cnt;
}

// Adds the top n bytes of w (1 <= n, 8 * n + cnt <= 63) below the cnt valid bits.
inline uint64_t append_bytes(uint64_t buf, int32_t cnt, uint64_t w, int32_t n) {
    return buf | ((w >> (64 - 8 * n)) << (64 - 8 * n - cnt));
}

// ---- Portable reader -------------------------------------------------------

struct PortableReader {
    INPUT_SOURCE *src;
    uint64_t buf;
    int32_t cnt;

    void flush() const { store_bits(src, buf, cnt); }
    void reload() {
        buf = load_bits(src);
        cnt = src->bit_count;
    }

    // fill_bit_buffer(wanted), taking the bytes it would take at once when
    // they are there and none is 0xFF.
    QRL_HOT_INLINE int32_t fill(int32_t wanted) {
        if (cnt >= 0 && cnt <= 24 && src->avail >= 4 && src->pending_marker == 0) {
            const uint64_t w = static_cast<uint64_t>(load_be32(src->cur)) << 32;
            const int32_t n = ((24 - cnt) >> 3) + 1; // bytes the fill takes
            if (bytes_before_ff(w) >= n) {
                buf = append_bytes(buf, cnt, w, n);
                cnt += 8 * n;
                advance(src, n);
                return 0;
            }
        }
        return careful_fill(wanted);
    }

    QRL_COLD int32_t careful_fill(int32_t wanted) {
        flush();
        const int32_t status = fill_bit_buffer(src, wanted);
        reload();
        return status;
    }

    // get_bits(n) of the portable reader, n 1..16.
    QRL_HOT_INLINE uint32_t get(int32_t n) {
        const int32_t left = cnt - n;
        if (left < 0) {
            cnt = left < kBitCountFloor ? kBitCountFloor : left;
            buf = 0;
            return 0;
        }
        cnt = left;
        const uint32_t v = static_cast<uint32_t>(buf >> (64 - n));
        buf <<= n;
        return v;
    }

    QRL_HOT_INLINE void consume(int32_t n) {
        buf <<= n;
        cnt -= n;
    }

    // The look-up entry for the next bits after the fill the portable kernel
    // makes before a symbol; *e = 0 when fewer than kFastLookupBits bits are
    // held. Returns 0 or the fill's status.
    QRL_HOT_INLINE int32_t next_entry(const FAST_HUFFMAN *f, uint32_t *e) {
        if (cnt < 8) {
            const int32_t status = fill(0);
            if (status != 0) return status;
        }
        *e = cnt >= kFastLookupBits ? f->entry[buf >> (64 - kFastLookupBits)] : 0;
        return 0;
    }

    // The value bits of a symbol whose code was consumed.
    QRL_HOT_INLINE int32_t value_bits(int32_t s, int32_t *value) {
        *value = 0;
        if (s == 0) return 0;
        if (cnt < s) {
            const int32_t status = fill(s);
            if (status != 0) return status;
        }
        *value = extend_value(get(s), s);
        return 0;
    }

    // A symbol the table does not give, with its value: the kernel's code.
    QRL_COLD int32_t uncommon_symbol(const HUFFMAN_DECODE_TABLE *t, int32_t *sym, int32_t *value) {
        flush();
        const int32_t status = decode_huffman_symbol(src, t, sym);
        reload();
        if (status != 0) return status;
        return value_bits(*sym & 15, value);
    }

    int32_t repeat_state() const {
        if (cnt > 0) return kNotRepeating;
        if (src->pending_marker != 0) return kStoppedAtMarker; // every block ends at once
        return (src->file == nullptr && src->avail <= 0) ? kDataEnded : kNotRepeating;
    }
};

// ---- Wide reader (SIMD sets) -------------------------------------------------

struct WideFastReader {
    INPUT_SOURCE *src;
    uint64_t buf;
    int32_t cnt;
    int32_t ended;

    void flush() const { store_bits(src, buf, cnt); }
    void reload() {
        buf = load_bits(src);
        cnt = src->bit_count;
    }

    // Called with fewer than 32 bits held.
    QRL_HOT_INLINE void top_up() {
        if (src->pending_marker == 0 && src->avail >= 8) {
            const uint64_t w = load_be64(src->cur);
            int32_t n = (63 - cnt) >> 3;
            const int32_t clear = bytes_before_ff(w);
            if (clear < n) n = clear;
            if (n > 0) {
                buf = append_bytes(buf, cnt, w, n);
                cnt += 8 * n;
                advance(src, n);
                if (cnt >= 32) return;
            }
        }
        careful_fill();
    }

    QRL_COLD void careful_fill() {
        flush();
        WideReader<true> r{src};
        r.ended = ended != 0;
        r.fill();
        ended = r.ended ? 1 : 0;
        reload();
    }

    QRL_HOT_INLINE void consume(int32_t n) {
        buf <<= n;
        cnt -= n;
    }

    QRL_HOT_INLINE uint32_t take(int32_t n) {
        const uint32_t v = static_cast<uint32_t>(buf >> (64 - n));
        consume(n);
        return v;
    }

    // The look-up entry for the next bits, or 0 when the table cannot be used
    // (fewer than 32 bits left, or no code of kFastLookupBits bits or fewer).
    QRL_HOT_INLINE int32_t next_entry(const FAST_HUFFMAN *f, uint32_t *e) {
        if (cnt < 32) top_up();
        *e = cnt >= 32 ? f->entry[buf >> (64 - kFastLookupBits)] : 0;
        return 0;
    }

    // With 32 bits held a symbol and its value bits are there.
    QRL_HOT_INLINE int32_t value_bits(int32_t s, int32_t *value) {
        *value = s != 0 ? extend_value(take(s), s) : 0;
        return 0;
    }

    // A code longer than the table with 32 bits held, or any code when the
    // data ended. Returns 0, or FILL_AT_MARKER when the data no longer hold
    // the symbol and its value (the block then ends as the kernel's does).
    QRL_COLD int32_t uncommon_symbol(const HUFFMAN_DECODE_TABLE *t, int32_t *sym, int32_t *value) {
        if (cnt >= 32) {
            *sym = long_code(t);
            return value_bits(*sym & 15, value);
        }
        flush();
        WideReader<true> r{src};
        r.ended = ended != 0;
        bool ok = r.symbol(t, sym);
        *value = 0;
        if (ok) {
            const int32_t s = *sym & 15;
            if (s != 0) {
                ok = r.need(s);
                if (ok) *value = extend_value(r.take_bits(s), s);
            }
        }
        ended = r.ended ? 1 : 0;
        reload();
        return ok ? 0 : FILL_AT_MARKER;
    }

    // Canonical search from length 9 with at least 32 bits held; no match
    // up to 16 bits consumes 17 bits and gives symbol 0.
    int32_t long_code(const HUFFMAN_DECODE_TABLE *t) {
        const uint32_t bits16 = static_cast<uint32_t>(buf >> 48);
        for (int32_t length = 9; length <= 16; ++length) {
            const uint32_t code = bits16 >> (16 - length);
            const int32_t max = t->max_code[length];
            if (max != -1 && code <= static_cast<uint16_t>(max)) {
                consume(length);
                const int32_t index =
                    static_cast<int32_t>(t->value_index[length]) + static_cast<int32_t>(code) - t->min_code[length];
                return (index >= 0 && index < 257) ? t->values[index] : 0;
            }
        }
        consume(17);
        return 0;
    }

    int32_t repeat_state() const {
        if (src->pending_marker != 0) return buf == 0 ? kZerosAfterMarker : kNotRepeating;
        const bool no_byte = src->avail <= 0 && (src->file == nullptr || ended != 0);
        return (no_byte && cnt == 0) ? kDataEnded : kNotRepeating;
    }
};

// zigzag_to_natural[k - 1] for k from 1, and 63 up to 127: the AC loop adds
// r + 1 to k before storing, and an end of block adds 64.
struct NaturalBefore {
    int32_t index[128];
};
constexpr NaturalBefore make_natural_before() {
    NaturalBefore t{};
    for (int32_t k = 0; k < 128; ++k) t.index[k] = (k >= 1 && k <= kZigzagTableEntries) ? zigzag_to_natural[k - 1] : 63;
    t.index[0] = 0;
    return t;
}
constexpr NaturalBefore kNaturalBefore = make_natural_before();
static_assert(kNaturalBefore.index[64] == 63 && kNaturalBefore.index[2] == 1 && kNaturalBefore.index[127] == 63);

// A symbol with its value from the entry, the table's fallback or the kernel's code.
template <typename Reader>
QRL_HOT_INLINE int32_t entry_symbol(Reader &rd, uint32_t e, const HUFFMAN_DECODE_TABLE *t, int32_t *sym,
                                    int32_t *value) {
    if (e == 0) return rd.uncommon_symbol(t, sym, value);
    rd.consume(static_cast<int32_t>(e & kFastLengthMask));
    *sym = static_cast<int32_t>((e >> 8) & 0xFFu);
    return rd.value_bits(*sym & 15, value);
}

// One block as the kernel decodes it; *dc_set tells whether coefficient 0
// was written (it is not when the block ends before its DC value).
template <typename Reader>
QRL_HOT_INLINE int32_t decode_block(Reader &rd, const FAST_SCAN *fs, int32_t i, int16_t *pred, int16_t *out,
                                    int32_t *dc_set) {
    std::memset(out, 0, 64 * sizeof(int16_t));
    uint32_t e;
    int32_t sym, value;
    int32_t status = rd.next_entry(fs->fast_dc[i], &e);
    if (status == 0) {
        if ((e & kFastValueIncluded) != 0) {
            rd.consume(static_cast<int32_t>(e & kFastLengthMask));
            value = static_cast<int16_t>(e >> 16);
        } else {
            status = entry_symbol(rd, e, fs->dc[i], &sym, &value);
        }
    }
    if (status != 0) return status == FILL_AT_MARKER ? 0 : status;
    *pred = static_cast<int16_t>(*pred + value);
    out[0] = *pred;
    *dc_set = 1;
    const HUFFMAN_DECODE_TABLE *ac = fs->ac[i];
    const FAST_HUFFMAN *fac = fs->fast_ac[i];
    int32_t k = 1;
    while (k < 64) {
        status = rd.next_entry(fac, &e);
        if (status != 0) return status == FILL_AT_MARKER ? 0 : status;
        if ((e & kFastValueIncluded) != 0) {
            // r zeros and a coefficient, a ZRL (its 0 stored at the 16th
            // position, which no coefficient of this block has reached), or
            // an end of block (its 0 stored at coefficient 63, not reached
            // either, and k pushed past the end).
            rd.consume(static_cast<int32_t>(e & kFastLengthMask));
            k += static_cast<int32_t>((e >> kFastAdvanceShift) & kFastAdvanceMask);
            out[kNaturalBefore.index[k]] = static_cast<int16_t>(e >> 16);
            continue;
        }
        status = entry_symbol(rd, e, ac, &sym, &value);
        if (status != 0) return status == FILL_AT_MARKER ? 0 : status;
        const int32_t r = (sym >> 4) & 15;
        if ((sym & 15) != 0) {
            k += r; // at most 63 + 15: the guard entries keep it on 63
            out[zigzag_to_natural[k]] = static_cast<int16_t>(value);
            k += 1;
        } else if (r == 15) {
            k += 16;
        } else {
            break; // end of block
        }
    }
    return 0;
}

template <typename Reader>
int32_t decode_mcu(INPUT_SOURCE *src, FAST_SCAN *fs, int32_t *dc_predictors, int16_t *mcu) {
    Reader reader{};
    reader.src = src;
    reader.reload();
    if constexpr (requires { reader.ended; }) reader.ended = fs->ended;
    int16_t *block = mcu;
    int32_t status = 0;
    int32_t decoded = 0;
    for (int32_t i = 0; i < fs->count && status == 0; ++i) {
        for (int32_t b = 0; b < fs->blocks[i]; ++b, block += 64) {
            int16_t pred = static_cast<int16_t>(dc_predictors[i]);
            const int32_t state = reader.repeat_state();
            if (state != kNotRepeating && fs->repeat_state[i] == state) {
                std::memcpy(block, fs->repeat_block[i], 64 * sizeof(int16_t));
                if (fs->repeat_sets_dc[i] != 0) {
                    pred = static_cast<int16_t>(pred + fs->repeat_diff[i]);
                    block[0] = pred;
                }
            } else {
                ++decoded;
                const int16_t before = pred;
                int32_t dc_set = 0;
                status = decode_block(reader, fs, i, &pred, block, &dc_set);
                if (status == 0 && state != kNotRepeating) {
                    fs->repeat_state[i] = state;
                    fs->repeat_sets_dc[i] = dc_set;
                    fs->repeat_diff[i] = static_cast<int16_t>(pred - before);
                    std::memcpy(fs->repeat_block[i], block, 64 * sizeof(int16_t));
                }
            }
            dc_predictors[i] = pred; // kept sign-extended
            if (status != 0) break;
        }
    }
    reader.flush();
    if constexpr (requires { reader.ended; }) fs->ended = reader.ended;
    fs->mcu_repeated = (status == 0 && decoded == 0) ? 1 : 0;
    return status;
}

FastDecoder decoder_for(DecodeBlockFn kernel) {
    if (kernel == decode_huffman_block) return FastDecoder::kPortable;
#ifdef QRL_X86_SIMD
    if (kernel == decode_huffman_block_sse2 || kernel == decode_huffman_block_wide_sse2) return FastDecoder::kWide;
#endif
    return FastDecoder::kNone;
}

const FAST_HUFFMAN *fast_table_for(FAST_SCAN *fs, const HUFFMAN_DECODE_TABLE *table) {
    for (int32_t i = 0; i < fs->table_count; ++i)
        if (fs->table_source[i] == table) return &fs->tables[i];
    FAST_HUFFMAN *fast = &fs->tables[fs->table_count];
    fs->table_source[fs->table_count++] = table;
    build_fast_huffman(table, fast);
    return fast;
}

} // namespace

void build_fast_huffman(const HUFFMAN_DECODE_TABLE *t, FAST_HUFFMAN *fast) {
    constexpr int32_t K = kFastLookupBits;
    for (uint32_t i = 0; i <= kFastMask; ++i) {
        int32_t length = 0;
        uint32_t sym = 0;
        const uint32_t e8 = t->lookahead[i >> (K - 8)];
        if (e8 != 0) {
            length = static_cast<int32_t>(e8 >> 16);
            sym = e8 & 0xFFFFu;
        } else {
            for (int32_t l = 9; l <= K; ++l) {
                const uint32_t code = i >> (K - l);
                const int32_t max = t->max_code[l];
                if (max != -1 && code <= static_cast<uint16_t>(max)) {
                    length = l;
                    const int32_t index =
                        static_cast<int32_t>(t->value_index[l]) + static_cast<int32_t>(code) - t->min_code[l];
                    sym = (index >= 0 && index < 257) ? t->values[index] : 0;
                    break;
                }
            }
        }
        if (length <= 0 || length > K || sym > 0xFFu) {
            fast->entry[i] = 0;
            continue;
        }
        const int32_t s = static_cast<int32_t>(sym & 15);
        uint32_t e = static_cast<uint32_t>(length) | (sym << 8);
        if (length + s <= K) {
            int32_t value = 0;
            if (s != 0) value = extend_value((i >> (K - length - s)) & ((1u << s) - 1u), s);
            const uint32_t r = sym >> 4;
            const uint32_t advance = (s == 0 && r != 15) ? 64 : r + 1; // end of block: past the end
            e = static_cast<uint32_t>(length + s) | kFastValueIncluded | (advance << kFastAdvanceShift) |
                (static_cast<uint32_t>(static_cast<uint16_t>(value)) << 16);
        }
        fast->entry[i] = e;
    }
}

bool setup_fast_scan(const SCAN_LAYOUT &layout, DecodeBlockFn kernel, FAST_SCAN *fs) {
    fs->decoder = decoder_for(kernel);
    if (fs->decoder == FastDecoder::kNone) return false;
    fs->count = layout.count;
    fs->ended = 0;
    fs->mcu_repeated = 0;
    fs->table_count = 0;
    for (int32_t i = 0; i < layout.count; ++i) {
        fs->blocks[i] = layout.blocks[i];
        fs->dc[i] = layout.dc[i];
        fs->ac[i] = layout.ac[i];
        fs->fast_dc[i] = fast_table_for(fs, layout.dc[i]);
        fs->fast_ac[i] = fast_table_for(fs, layout.ac[i]);
        fs->repeat_state[i] = kNotRepeating;
    }
    return true;
}

int32_t decode_mcu_fast(INPUT_SOURCE *src, FAST_SCAN *fs, int32_t *dc_predictors, int16_t *mcu) {
    if (fs->decoder == FastDecoder::kPortable) return decode_mcu<PortableReader>(src, fs, dc_predictors, mcu);
    return decode_mcu<WideFastReader>(src, fs, dc_predictors, mcu);
}

} // namespace qrl
