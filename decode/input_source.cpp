#include "decode/input_source.h"

#include <cstdlib>

#include "dispatch/platform.h"

namespace qrl {
namespace {

bool is_file_source(const INPUT_SOURCE *src) { return src->file != nullptr; }

void consume(INPUT_SOURCE *src, uint32_t n) {
    src->cur += n;
    src->position += static_cast<int32_t>(n);
    src->avail -= static_cast<int32_t>(n);
}

uint32_t available(const INPUT_SOURCE *src) {
    return src->avail > 0 ? static_cast<uint32_t>(src->avail) : 0u;
}

// State of one read_segment, kept outside the guarded call so that the block
// can be released after a fault.
struct SegmentRead {
    INPUT_SOURCE *src;
    uint32_t n;
    uint8_t *block;
    uint8_t *data;
};

int32_t gather_segment(void *context) {
    auto *job = static_cast<SegmentRead *>(context);
    INPUT_SOURCE *src = job->src;
    const uint32_t have = available(src);
    copy_memory(job->block, src->cur, have);
    consume(src, have);
    uint32_t done = have;
    while (done < job->n) {
        uint32_t piece = job->n - done;
        if (piece > QRL_FILE_BUFFER_SIZE) piece = QRL_FILE_BUFFER_SIZE;
        uint8_t *bytes = nullptr;
        if (take_bytes(src, piece, &bytes) != JPEG_OK) return JPEG_DATA_ERROR;
        copy_memory(job->block + done, bytes, piece);
        done += piece;
    }
    job->data = job->block;
    return JPEG_OK;
}

} // namespace

void reset_input(INPUT_SOURCE *src) {
    if (is_file_source(src)) {
        src->cur = src->file_buffer + QRL_FILE_BUFFER_SIZE;
        src->end = src->cur;
        src->avail = 0;
    } else {
        src->cur = src->start;
        src->end = src->start + src->size;
        src->avail = src->size;
    }
    src->bit_count = 0;
    src->pending_marker = 0;
    src->bit_buffer = 0;
    src->scan_channel_offset = 0;
}

int32_t refill_input(INPUT_SOURCE *src) {
    uint32_t count = 0;
    (void)read_file(src->file, src->file_buffer, QRL_FILE_BUFFER_SIZE, &count);
    // A failed read is taken as having delivered the count it reports; a read
    // of nothing (end of file, or a failure reporting 0) is an error, so that
    // a marker search over a failing file cannot spin.
    if (count == 0) return JPEG_FILE_ERROR;
    if (count > QRL_FILE_BUFFER_SIZE) count = QRL_FILE_BUFFER_SIZE;
    src->avail = static_cast<int32_t>(count);
    src->cur = src->file_buffer;
    src->end = src->file_buffer + count;
    return JPEG_OK;
}

int32_t take_bytes(INPUT_SOURCE *src, uint32_t n, uint8_t **data) {
    *data = nullptr;
    if (available(src) < n) {
        if (!is_file_source(src)) return JPEG_MEMORY_ERROR;
        // Refilling would drop the unread bytes; callers drain the buffer first.
        if (available(src) != 0) return JPEG_INTERNAL_ERROR;
        const int32_t result = refill_input(src);
        if (result != JPEG_OK) return result;
        if (available(src) < n) return JPEG_INTERNAL_ERROR;
    }
    *data = src->cur;
    consume(src, n);
    return JPEG_OK;
}

int32_t read_segment(INPUT_SOURCE *src, uint32_t n, uint8_t **block, uint8_t **data,
                     int32_t *allocated) {
    *block = nullptr;
    *data = nullptr;
    *allocated = 0;
    if (available(src) >= n) return take_bytes(src, n, data);
    auto *temporary = static_cast<uint8_t *>(std::malloc(n));
    if (temporary == nullptr) return JPEG_MEMORY_ERROR;
    SegmentRead job{src, n, temporary, nullptr};
    const int32_t result = run_guarded(gather_segment, &job, JPEG_EXCEPTION_DETECTED);
    if (result != JPEG_OK) {
        std::free(temporary);
        return result;
    }
    *block = temporary;
    *allocated = 1;
    *data = job.data;
    return JPEG_OK;
}

void release_segment(uint8_t **block, int32_t *allocated) {
    if (*allocated != 0 && *block != nullptr) std::free(*block);
    *block = nullptr;
    *allocated = 0;
}

int32_t read_u16(INPUT_SOURCE *src, uint32_t *value) {
    uint8_t *block = nullptr;
    uint8_t *data = nullptr;
    int32_t allocated = 0;
    *value = 0;
    const int32_t result = read_segment(src, 2, &block, &data, &allocated);
    if (result != JPEG_OK) return result;
    *value = static_cast<uint32_t>(data[0]) * 256u + data[1];
    release_segment(&block, &allocated);
    return JPEG_OK;
}

int32_t skip_segment(INPUT_SOURCE *src) {
    uint32_t length = 0;
    const int32_t result = read_u16(src, &length);
    if (result != JPEG_OK) return result;
    if (length < 2) return JPEG_DATA_ERROR;
    uint32_t remaining = length - 2;
    uint8_t *bytes = nullptr;
    if (remaining >= available(src)) {
        const uint32_t have = available(src);
        if (take_bytes(src, have, &bytes) != JPEG_OK) return JPEG_DATA_ERROR;
        remaining -= have;
    }
    while (remaining > 0) {
        uint32_t piece = remaining;
        if (piece > QRL_FILE_BUFFER_SIZE) piece = QRL_FILE_BUFFER_SIZE;
        if (take_bytes(src, piece, &bytes) != JPEG_OK) return JPEG_DATA_ERROR;
        remaining -= piece;
    }
    return JPEG_OK;
}

int32_t seek_marker(INPUT_SOURCE *src) {
    bool have_ff = false; // a 0xFF was consumed and awaits its code byte
    for (;;) {
        if (available(src) == 0) {
            if (!is_file_source(src)) return JPEG_MEMORY_ERROR;
            const int32_t result = refill_input(src);
            if (result != JPEG_OK) return result;
        }
        if (!have_ff) {
            while (available(src) > 0) {
                const uint8_t byte = *src->cur;
                consume(src, 1);
                if (byte == 0xFF) {
                    have_ff = true;
                    break;
                }
            }
            if (available(src) == 0) continue; // refill (or fail) and go on
        }
        const uint8_t code = *src->cur;
        if (code == 0xFF) {
            consume(src, 1); // fill byte: it starts the marker again
            continue;
        }
        if (code == 0x00) {
            consume(src, 1); // stuffed zero: not a marker
            have_ff = false;
            continue;
        }
        return JPEG_OK;
    }
}

int32_t read_marker(INPUT_SOURCE *src, int32_t *code) {
    if (src->pending_marker != 0) {
        *code = src->pending_marker;
        src->pending_marker = 0;
        return JPEG_OK;
    }
    const int32_t result = seek_marker(src);
    if (result != JPEG_OK) return result;
    uint8_t *byte = nullptr;
    if (take_bytes(src, 1, &byte) != JPEG_OK) {
        *code = kEndOfData;
        return JPEG_OK;
    }
    *code = *byte;
    return JPEG_OK;
}

} // namespace qrl
