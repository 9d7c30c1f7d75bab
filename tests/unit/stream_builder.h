// Small hand-built JPEG streams for the marker and header tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace qrl_stream {

using Bytes = std::vector<uint8_t>;

inline void append(Bytes &out, const Bytes &more) { out.insert(out.end(), more.begin(), more.end()); }

inline Bytes marker(uint8_t code) { return {0xFF, code}; }

// A marker segment whose length field is computed from the payload; `extra`
// is added to the length field (negative: a length shorter than the payload).
inline Bytes segment(uint8_t code, const Bytes &payload, int extra = 0) {
    const int length = static_cast<int>(payload.size()) + 2 + extra;
    Bytes out = {0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    append(out, payload);
    return out;
}

// DQT with one table of 8-bit values (all `value`) or 16-bit values.
inline Bytes dqt_payload(uint8_t id, bool sixteen_bit = false, uint16_t value = 2) {
    Bytes p = {static_cast<uint8_t>((sixteen_bit ? 0x10 : 0x00) | id)};
    for (int i = 0; i < 64; ++i) {
        if (sixteen_bit) p.push_back(static_cast<uint8_t>(value >> 8));
        p.push_back(static_cast<uint8_t>(value));
    }
    return p;
}

// DHT table entry: class/id byte, 16 counts, then symbols 0, 1, 2, ...
inline Bytes dht_payload(uint8_t table_class, uint8_t id, const uint8_t (&counts)[16]) {
    Bytes p = {static_cast<uint8_t>(table_class << 4 | id)};
    int total = 0;
    for (uint8_t c : counts) {
        p.push_back(c);
        total += c;
    }
    for (int i = 0; i < total; ++i) p.push_back(static_cast<uint8_t>(i));
    return p;
}
inline Bytes simple_dht_payload(uint8_t table_class, uint8_t id) {
    const uint8_t counts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    return dht_payload(table_class, id, counts);
}

struct Component {
    uint8_t id;
    uint8_t hv; // H << 4 | V
    uint8_t tq;
};
inline Bytes sof_payload(uint16_t width, uint16_t height, std::initializer_list<Component> comps,
                         uint8_t precision = 8) {
    Bytes p = {precision, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
               static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width),
               static_cast<uint8_t>(comps.size())};
    for (const Component &c : comps) {
        p.push_back(c.id);
        p.push_back(c.hv);
        p.push_back(c.tq);
    }
    return p;
}

struct ScanComponent {
    uint8_t id;
    uint8_t tables; // Td << 4 | Ta
};
inline Bytes sos_payload(std::initializer_list<ScanComponent> comps, uint8_t ss = 0, uint8_t se = 63,
                         uint8_t ahal = 0) {
    Bytes p = {static_cast<uint8_t>(comps.size())};
    for (const ScanComponent &c : comps) {
        p.push_back(c.id);
        p.push_back(c.tables);
    }
    p.push_back(ss);
    p.push_back(se);
    p.push_back(ahal);
    return p;
}

// JFIF APP0 with an optional thumbnail of w x h RGB pixels (pixel i is
// i*3, i*3+1, i*3+2); `pixel_bytes` < 0 means 3 x w x h.
inline Bytes jfif_payload(uint8_t w = 0, uint8_t h = 0, int pixel_bytes = -1) {
    Bytes p = {0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x02, 0x01, 0x00, 0x48, 0x00, 0x60, w, h};
    const int n = pixel_bytes < 0 ? 3 * w * h : pixel_bytes;
    for (int i = 0; i < n; ++i) p.push_back(static_cast<uint8_t>(i));
    return p;
}

inline Bytes adobe_payload(uint8_t transform) {
    return {0x41, 0x64, 0x6F, 0x62, 0x65, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, transform};
}

// SOI, one DQT, DC and AC tables 0, a 3-component 4:2:0 frame of w x h,
// the scan header, two bytes of "data" and EOI.
inline Bytes minimal_stream(uint16_t width = 16, uint16_t height = 16) {
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, segment(0xC4, simple_dht_payload(1, 0)));
    append(s, segment(0xC0, sof_payload(width, height, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}})));
    append(s, segment(0xDA, sos_payload({{1, 0x00}, {2, 0x00}, {3, 0x00}})));
    append(s, {0x00, 0x00});
    append(s, marker(0xD9));
    return s;
}

} // namespace qrl_stream
