#include "encoding/RunLengthDeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace pelldrin::render {

namespace {

constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kLitLenCodes = 286; // 0-255 bytes, 256 end of block, 257-285 match lengths
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
constexpr std::size_t kBlockTokens = std::size_t{1} << 14;

// Bits go out least significant first, a 32-bit word at a time; out must have room.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}
    void Put(std::uint32_t value, int bits) { // bits <= 16
        buffer_ |= std::uint64_t{value} << count_;
        count_ += bits;
        if (count_ >= 32) {
            const auto word = static_cast<std::uint32_t>(buffer_);
            const std::uint8_t bytes[4] = {
                static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
            std::memcpy(out_, bytes, 4);
            out_ += 4;
            buffer_ >>= 32;
            count_ -= 32;
        }
    }
    // The end of the whole words written; writing goes on from start, which the caller has
    // emptied.
    std::uint8_t* TakeWhole(std::uint8_t* start) {
        std::uint8_t* end = out_;
        out_ = start;
        return end;
    }
    // Writes the last partial byte; returns the end of the output.
    std::uint8_t* Finish() {
        for (; count_ > 0; count_ -= 8) {
            *out_++ = static_cast<std::uint8_t>(buffer_);
            buffer_ >>= 8;
        }
        return out_;
    }

  private:
    std::uint8_t* out_;
    std::uint64_t buffer_ = 0;
    int count_ = 0;
};

// Each match length's code, extra bits and their value.
struct LengthCodes {
    std::uint16_t symbol[kMaxMatch + 1] = {};
    std::uint8_t extraBits[kMaxMatch + 1] = {};
    std::uint16_t extra[kMaxMatch + 1] = {};
    constexpr LengthCodes() {
        constexpr int base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        constexpr int bits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        for (int code = 0; code < 29; ++code) {
            // 258 has a code of its own; 227 + 31 would reach it too.
            const int last = code == 28 ? 258 : code == 27 ? 257 : base[code + 1] - 1;
            for (int length = base[code]; length <= last; ++length) {
                symbol[length] = static_cast<std::uint16_t>(257 + code);
                extraBits[length] = static_cast<std::uint8_t>(bits[code]);
                extra[length] = static_cast<std::uint16_t>(length - base[code]);
            }
        }
    }
};
constexpr LengthCodes kLengths;

std::uint32_t ReverseBits(std::uint32_t value, int bits) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < bits; ++i, value >>= 1) {
        reversed = reversed << 1 | (value & 1);
    }
    return reversed;
}

// Huffman code lengths of at most maxBits for the counts (0 for symbols never used): the
// counts are halved until the Huffman tree is shallow enough. The tree is built from the
// leaves sorted by count with two queues, leaves and joined nodes, both in weight order.
std::vector<std::uint8_t> CodeLengths(std::vector<std::uint32_t> counts, int maxBits) {
    std::vector<std::uint8_t> lengths(counts.size(), 0);
    std::vector<int> leaves;
    for (std::size_t s = 0; s < counts.size(); ++s) {
        if (counts[s] != 0) {
            leaves.push_back(static_cast<int>(s));
        }
    }
    const std::size_t n = leaves.size();
    if (n == 1) { // a lone code still takes a bit
        lengths[static_cast<std::size_t>(leaves[0])] = 1;
        return lengths;
    }
    std::vector<std::uint64_t> weight(2 * n);
    std::vector<std::size_t> parent(2 * n);
    std::vector<int> depth(2 * n);
    for (;;) {
        std::stable_sort(leaves.begin(), leaves.end(),
                         [&](int a, int b) { return counts[a] < counts[b]; });
        for (std::size_t i = 0; i < n; ++i) {
            weight[i] = counts[static_cast<std::size_t>(leaves[i])];
        }
        std::size_t nextLeaf = 0;
        std::size_t nextJoined = n;
        std::size_t made = n;
        const auto take = [&] {
            if (nextLeaf < n && (nextJoined == made || weight[nextLeaf] <= weight[nextJoined])) {
                return nextLeaf++;
            }
            return nextJoined++;
        };
        for (; made < 2 * n - 1; ++made) {
            const std::size_t a = take();
            const std::size_t b = take();
            parent[a] = parent[b] = made;
            weight[made] = weight[a] + weight[b];
        }
        depth[2 * n - 2] = 0;
        int deepest = 0;
        for (std::size_t node = 2 * n - 2; node-- > 0;) {
            depth[node] = depth[parent[node]] + 1;
            deepest = std::max(deepest, depth[node]);
        }
        if (deepest <= maxBits) {
            for (std::size_t i = 0; i < n; ++i) {
                lengths[static_cast<std::size_t>(leaves[i])] = static_cast<std::uint8_t>(depth[i]);
            }
            return lengths;
        }
        for (std::uint32_t& count : counts) {
            count = (count + 1) / 2; // a used symbol stays used
        }
    }
}

// The canonical codes of the lengths, bit-reversed for writing.
std::vector<std::uint16_t> CanonicalCodes(const std::vector<std::uint8_t>& lengths) {
    std::array<int, kMaxCodeBits + 2> perLength{};
    for (const std::uint8_t length : lengths) {
        ++perLength[length];
    }
    perLength[0] = 0;
    std::array<std::uint32_t, kMaxCodeBits + 2> next{};
    std::uint32_t code = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        code = (code + static_cast<std::uint32_t>(perLength[bits - 1])) << 1;
        next[bits] = code;
    }
    std::vector<std::uint16_t> codes(lengths.size(), 0);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) {
            codes[s] = static_cast<std::uint16_t>(ReverseBits(next[lengths[s]]++, lengths[s]));
        }
    }
    return codes;
}

// The length of the run of bytes at a that equal those at b, at most max.
std::size_t SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t max) {
    std::size_t n = 0;
    for (; n + 8 <= max; n += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
            // Little-endian loads: the first differing byte is the lowest differing one.
            for (; a[n] == b[n]; ++n) {
            }
            return n;
        }
    }
    for (; n < max && a[n] == b[n]; ++n) {
    }
    return n;
}

// The data from position `from` as symbols (a byte, or 256 + the length of a match one byte
// back), at most `room` of them; counts each code. Returns where the symbols end.
std::size_t Tokenize(const std::uint8_t* data, std::size_t size, std::size_t from,
                     std::uint16_t* tokens, std::size_t room, std::size_t& made,
                     std::vector<std::uint32_t>& counts) {
    std::size_t n = 0;
    std::size_t i = from;
    while (i < size && n < room) {
        if (i > 0 && size - i >= kMinMatch && data[i] == data[i - 1]) {
            const std::size_t run =
                SameBytes(data + i, data + i - 1, std::min<std::size_t>(kMaxMatch, size - i));
            if (run >= kMinMatch) {
                tokens[n++] = static_cast<std::uint16_t>(256 + run);
                ++counts[kLengths.symbol[run]];
                i += run;
                continue;
            }
        }
        tokens[n++] = data[i];
        ++counts[data[i]];
        ++i;
    }
    made = n;
    return i;
}

// The block header's code lengths of the literal/length and distance codes, themselves
// coded with repeats (16: the previous length 3-6 times, 17 and 18: zeros).
struct LengthToken {
    std::uint8_t symbol, extra, extraBits;
};

std::vector<LengthToken> RepeatCoded(const std::vector<std::uint8_t>& lengths,
                                     std::vector<std::uint32_t>& counts) {
    std::vector<LengthToken> tokens;
    for (std::size_t k = 0; k < lengths.size();) {
        const std::uint8_t value = lengths[k];
        std::size_t same = 1;
        while (k + same < lengths.size() && lengths[k + same] == value) {
            ++same;
        }
        if (value == 0 && same >= 3) {
            const std::size_t take = std::min<std::size_t>(same, 138);
            tokens.push_back(take >= 11 ? LengthToken{18, static_cast<std::uint8_t>(take - 11), 7}
                                        : LengthToken{17, static_cast<std::uint8_t>(take - 3), 3});
            k += take;
        } else if (value != 0 && same >= 4) {
            const std::size_t take = std::min<std::size_t>(same - 1, 6);
            tokens.push_back({value, 0, 0});
            tokens.push_back({16, static_cast<std::uint8_t>(take - 3), 2});
            k += 1 + take;
        } else {
            tokens.push_back({value, 0, 0});
            ++k;
        }
    }
    for (const LengthToken& t : tokens) {
        ++counts[t.symbol];
    }
    return tokens;
}

// Writes one block of tokens with codes made for them.
void WriteBlock(BitWriter& bits, const std::uint16_t* tokens, std::size_t tokenCount,
                std::vector<std::uint32_t> counts, bool last) {
    counts[kEndOfBlock] = 1;
    const std::vector<std::uint8_t> lengths = CodeLengths(counts, kMaxCodeBits);
    const std::vector<std::uint16_t> codes = CanonicalCodes(lengths);
    std::size_t usedCodes = kLitLenCodes;
    while (usedCodes > 257 && lengths[usedCodes - 1] == 0) {
        --usedCodes;
    }
    // Two distance codes of one bit each: only the first (distance 1) is used.
    std::vector<std::uint8_t> headerLengths(
        lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(usedCodes));
    headerLengths.push_back(1);
    headerLengths.push_back(1);
    std::vector<std::uint32_t> lengthCounts(19, 0);
    const std::vector<LengthToken> header = RepeatCoded(headerLengths, lengthCounts);
    const std::vector<std::uint8_t> lengthLengths = CodeLengths(lengthCounts, kMaxCodeLengthBits);
    const std::vector<std::uint16_t> lengthCodes = CanonicalCodes(lengthLengths);
    constexpr int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int sentLengths = 19;
    while (sentLengths > 4 &&
           lengthLengths[static_cast<std::size_t>(kOrder[sentLengths - 1])] == 0) {
        --sentLengths;
    }
    bits.Put(last ? 1 : 0, 1);
    bits.Put(2, 2); // dynamic Huffman codes
    bits.Put(static_cast<std::uint32_t>(usedCodes - 257), 5);
    bits.Put(1, 5); // two distance codes
    bits.Put(static_cast<std::uint32_t>(sentLengths - 4), 4);
    for (int k = 0; k < sentLengths; ++k) {
        bits.Put(lengthLengths[static_cast<std::size_t>(kOrder[k])], 3);
    }
    for (const LengthToken& t : header) {
        bits.Put(lengthCodes[t.symbol], lengthLengths[t.symbol]);
        if (t.extraBits != 0) {
            bits.Put(t.extra, t.extraBits);
        }
    }
    for (std::size_t i = 0; i < tokenCount; ++i) {
        const std::uint16_t token = tokens[i];
        if (token < 256) {
            bits.Put(codes[token], lengths[token]);
        } else {
            const std::size_t run = token - 256u;
            const std::uint16_t symbol = kLengths.symbol[run];
            bits.Put(codes[symbol], lengths[symbol]);
            if (kLengths.extraBits[run] != 0) {
                bits.Put(kLengths.extra[run], kLengths.extraBits[run]);
            }
            bits.Put(0, 1); // distance code 0: one byte back
        }
    }
    bits.Put(codes[kEndOfBlock], lengths[kEndOfBlock]);
}

} // namespace

void AppendRunLengthZlib(const std::uint8_t* data, std::size_t size,
                         std::vector<std::uint8_t>& out) {
    // Blocks of a bounded number of symbols, as zlib makes them: the memory stays small for a
    // whole-frame picture, and each block's codes follow its part of the picture (the empty
    // rows, the rows with text).
    const std::size_t room = std::min<std::size_t>(size + 1, kBlockTokens);
    const std::unique_ptr<std::uint16_t[]> tokens(new std::uint16_t[room]);
    // A block: a header of under 400 bytes, at most 21 bits a symbol, a word of slack.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[room * 3 + 1024]);
    out.push_back(0x78); // deflate, 32 KB window
    out.push_back(0x01);
    BitWriter bits(buffer.get());
    std::size_t position = 0;
    do {
        std::vector<std::uint32_t> counts(kLitLenCodes, 0);
        std::size_t made = 0;
        position = Tokenize(data, size, position, tokens.get(), room, made, counts);
        WriteBlock(bits, tokens.get(), made, std::move(counts), position == size);
        out.insert(out.end(), buffer.get(), bits.TakeWhole(buffer.get()));
    } while (position < size);
    std::uint8_t* end = bits.Finish();
    out.insert(out.end(), buffer.get(), end);
    const std::uint32_t adler = libdeflate_adler32(1, data, size);
    const std::uint8_t check[4] = {
        static_cast<std::uint8_t>(adler >> 24), static_cast<std::uint8_t>(adler >> 16),
        static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)};
    out.insert(out.end(), check, check + 4);
}

} // namespace pelldrin::render
