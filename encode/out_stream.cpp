#include "encode/out_stream.h"

#include <cstring>

#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"

namespace qrl {
namespace {

// Writes the file buffer's bytes [start, cur) and rewinds cur.
int32_t write_buffered(INPUT_SOURCE *stream) {
    const uint32_t count = static_cast<uint32_t>(stream->cur - stream->start);
    if (count > 0) {
        uint32_t written = 0;
        if (write_file(stream->file, stream->start, count, &written) == 0 || written != count)
            return JPEG_FILE_ERROR;
    }
    stream->cur = stream->start;
    return JPEG_OK;
}

// Stores one byte; a file stream writes its buffer out when it fills.
int32_t store_byte(INPUT_SOURCE *stream, uint8_t byte) {
    if (stream->cur >= stream->end) {
        if (stream->file == nullptr) return JPEG_BUFFER_TOO_SMALL;
        const int32_t r = write_buffered(stream);
        if (r != JPEG_OK) return r;
    }
    *stream->cur++ = byte;
    stream->position += 1;
    return JPEG_OK;
}

void open_common(INPUT_SOURCE *stream, uint8_t *buffer, int32_t size) {
    if (stream->file != nullptr) {
        stream->start = stream->file_buffer;
        stream->size = QRL_FILE_BUFFER_SIZE;
    } else {
        stream->start = buffer;
        stream->size = size;
    }
    stream->cur = stream->start;
    stream->end = stream->start + (stream->size > 0 ? stream->size : 0);
    stream->bit_buffer = 0;
}

// The pending bits as whole bytes (padded with 1-bits), before stuffing.
// Returns the number of bytes (0..8).
int32_t pending_bytes(const INPUT_SOURCE *stream, bool wide, uint8_t out[8]) {
    if (!wide) {
        if (stream->bit_count >= 8) return 0;
        const uint32_t pad = (1u << stream->bit_count) - 1u;
        out[0] = static_cast<uint8_t>((stream->bit_buffer & 0xFFu) | pad);
        return 1;
    }
    int32_t bits = stream->bit_count;
    uint64_t acc = stream->bit_buffer;
    int32_t n = 0;
    while (bits > 0 && n < 8) {
        uint8_t byte = static_cast<uint8_t>(acc >> 56);
        if (bits < 8) byte = static_cast<uint8_t>(byte | ((1u << (8 - bits)) - 1u));
        out[n++] = byte;
        acc <<= 8;
        bits -= 8;
    }
    return n;
}

int32_t write_impl(const uint8_t *data, int32_t length, INPUT_SOURCE *stream, bool wide) {
    if (length < 0) return JPEG_INTERNAL_ERROR;
    uint8_t pend[16];
    uint8_t raw[8];
    const int32_t raw_count = pending_bytes(stream, wide, raw);
    int32_t pend_count = 0;
    for (int32_t i = 0; i < raw_count; ++i) {
        pend[pend_count++] = raw[i];
        if (raw[i] == 0xFF) pend[pend_count++] = 0x00;
    }
    if (stream->file == nullptr) {
        // Memory: all or nothing, and one byte of the buffer always stays unused.
        const int64_t room = stream->end - stream->cur;
        if (static_cast<int64_t>(pend_count) + length >= room) return JPEG_BUFFER_TOO_SMALL;
        if (pend_count > 0) std::memcpy(stream->cur, pend, static_cast<size_t>(pend_count));
        stream->cur += pend_count;
        if (length > 0) std::memcpy(stream->cur, data, static_cast<size_t>(length));
        stream->cur += length;
        stream->position += pend_count + length;
    } else {
        if (wide && stream->end - stream->cur < pend_count + length + 2) {
            // The wide kernel empties a partly filled buffer when the data would not fit.
            const int32_t r = write_buffered(stream);
            if (r != JPEG_OK) return r;
        }
        for (int32_t i = 0; i < pend_count; ++i) {
            const int32_t r = store_byte(stream, pend[i]);
            if (r != JPEG_OK) return r;
        }
        int32_t left = length;
        while (left > 0) {
            if (stream->cur >= stream->end) {
                const int32_t r = write_buffered(stream);
                if (r != JPEG_OK) return r;
            }
            const int64_t room = stream->end - stream->cur;
            const int32_t n = static_cast<int32_t>(room < left ? room : left);
            std::memcpy(stream->cur, data, static_cast<size_t>(n));
            stream->cur += n;
            stream->position += n;
            data += n;
            left -= n;
        }
        if (stream->cur >= stream->end) {
            const int32_t r = write_buffered(stream);
            if (r != JPEG_OK) return r;
        }
    }
    stream->bit_buffer = 0;
    stream->bit_count = wide ? 0 : 8;
    return JPEG_OK;
}

} // namespace

void out_stream_open(INPUT_SOURCE *stream, uint8_t *buffer, int32_t size) {
    open_common(stream, buffer, size);
    stream->bit_count = 8;
    stream->position = 0;
}

void out_stream_open_wide(INPUT_SOURCE *stream, uint8_t *buffer, int32_t size) {
    open_common(stream, buffer, size);
    stream->bit_count = 0;
}

int32_t out_stream_write(const uint8_t *data, int32_t length, INPUT_SOURCE *stream) {
    return write_impl(data, length, stream, false);
}

int32_t out_stream_write_wide(const uint8_t *data, int32_t length, INPUT_SOURCE *stream) {
    return write_impl(data, length, stream, true);
}

bool stream_uses_wide_bits(const INPUT_SOURCE *stream) {
    return stream->kernel_table != nullptr &&
           stream->kernel_table->out_stream_write == &out_stream_write_wide;
}

int32_t out_stream_finish(INPUT_SOURCE *stream) {
    const OutWriteFn write = stream->kernel_table != nullptr && stream->kernel_table->out_stream_write
                                 ? stream->kernel_table->out_stream_write
                                 : &out_stream_write;
    const int32_t r = write(nullptr, 0, stream);
    if (r != JPEG_OK) return r;
    if (stream->file == nullptr) return JPEG_OK;
    return write_buffered(stream);
}

int32_t out_stream_drain(INPUT_SOURCE *stream) {
    if (stream->file == nullptr) return JPEG_OK;
    const int32_t r = write_buffered(stream);
    stream->end = stream->start + stream->size;
    return r;
}

int32_t put_stuffed_byte(INPUT_SOURCE *stream, uint32_t byte) {
    const uint8_t b = static_cast<uint8_t>(byte);
    if (stream->file == nullptr) {
        // Reserve the stuffing byte too, so that 0xFF never ends the data unstuffed.
        const int64_t need = b == 0xFF ? 2 : 1;
        if (stream->end - stream->cur < need) return JPEG_BUFFER_TOO_SMALL;
    }
    int32_t r = store_byte(stream, b);
    if (r == JPEG_OK && b == 0xFF) r = store_byte(stream, 0x00);
    return r;
}

} // namespace qrl
