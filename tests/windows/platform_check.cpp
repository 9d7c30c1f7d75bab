// Checks of the Windows platform layer, run under Windows or Wine: the file
// wrappers over the system's file services, the user32 and advapi32 entry
// points found through the system loader, the processor class with the
// registry's USECPU override, and processor faults turned into result codes.
//
// usage: platform_check SAMPLE.jpg [--expect-class N] [--expect-override N]
//
// SAMPLE is a three-component JPEG file; the work files are written in the
// current folder. Prints one line per check and "N passed, M failed".
#include <windows.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "dispatch/cpu.h"
#include "dispatch/kernel_table.h"
#include "dispatch/modules.h"
#include "dispatch/platform.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void check(bool ok, const char *what) {
    std::printf("%s %s\n", ok ? "ok    " : "FAILED", what);
    ++(ok ? g_passed : g_failed);
}

void check_code(int32_t got, int32_t expected, const char *what) {
    char line[256];
    std::snprintf(line, sizeof line, "%s (%d %s, expected %d)", what, got, codec_error_text(got),
                  expected);
    check(got == expected, line);
}

// A record passed through codec_init, released by its destructor.
struct Record {
    JPEG_CODEC_RECORD *r;
    Record() : r(static_cast<JPEG_CODEC_RECORD *>(std::malloc(sizeof(JPEG_CODEC_RECORD)))) {
        std::memset(r, 0xAB, sizeof(JPEG_CODEC_RECORD));
        init = codec_init(r);
    }
    ~Record() {
        (void)codec_free(r);
        std::free(r);
    }
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    int32_t init;
};

// A page the process may not touch.
uint8_t *no_access_page() {
    return static_cast<uint8_t *>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS));
}

std::vector<uint8_t> read_bytes(const char *path) {
    std::vector<uint8_t> out;
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    std::fclose(f);
    return out;
}

// Decodes to tightly packed RGB, from the file (name set) or from memory.
int32_t decode_rgb(const char *file, std::vector<uint8_t> *memory, std::vector<uint8_t> *pixels,
                   uint8_t *pixel_address = nullptr) {
    Record rec;
    if (rec.init != JPEG_OK) return rec.init;
    JPEG_CODEC_RECORD *r = rec.r;
    int32_t mode_header = JPEG_IO_READ_HEADER_MEM, mode_decode = JPEG_IO_DECODE_MEM;
    if (file != nullptr) {
        r->jpeg_file_name = file;
        mode_header = JPEG_IO_READ_HEADER_FILE;
        mode_decode = JPEG_IO_DECODE_FILE;
    } else {
        r->jpeg_buffer = memory->data();
        r->jpeg_buffer_size = static_cast<int32_t>(memory->size());
    }
    int32_t result = codec_read(r, mode_header);
    if (result != JPEG_OK) return result;
    pixels->assign(static_cast<size_t>(r->jpeg_width) * r->jpeg_height * 3, 0);
    r->image_pixels = pixel_address != nullptr ? pixel_address : pixels->data();
    r->image_width = r->jpeg_width;
    r->image_height = r->jpeg_height;
    r->image_channels = 3;
    r->image_color = COLOR_RGB;
    r->image_pad_bytes = 0;
    return codec_read(r, mode_decode);
}

void check_modules_and_class(int expect_class, int expect_override) {
    Record rec;
    check_code(rec.init, JPEG_OK, "codec_init");
    const KERNEL_TABLE *t = rec.r->props.kernel_table;
    HMODULE user32 = GetModuleHandleA("user32");
    HMODULE advapi32 = GetModuleHandleA("advapi32");
    check(t != nullptr && t->user32_module != nullptr && t->user32_module == user32,
          "user32 loaded with LoadLibraryA into the kernel table");
    check(t != nullptr && t->advapi32_module != nullptr && t->advapi32_module == advapi32,
          "advapi32 loaded with LoadLibraryA into the kernel table");
    auto same = [](const void *entry, HMODULE module, const char *name) {
        return entry != nullptr && module != nullptr &&
               entry == reinterpret_cast<const void *>(GetProcAddress(module, name));
    };
    check(same(reinterpret_cast<const void *>(qrl::message_box), user32, "MessageBoxA") &&
              same(reinterpret_cast<const void *>(qrl::peek_message), user32, "PeekMessageA") &&
              same(reinterpret_cast<const void *>(qrl::post_quit_message), user32, "PostQuitMessage") &&
              same(reinterpret_cast<const void *>(qrl::format_print), user32, "wsprintfA"),
          "the four user32 entry points are the system's");
    check(t != nullptr && same(reinterpret_cast<const void *>(t->reg_open_key), advapi32, "RegOpenKeyExA") &&
              same(reinterpret_cast<const void *>(t->reg_query_value), advapi32, "RegQueryValueExA") &&
              same(reinterpret_cast<const void *>(t->reg_close_key), advapi32, "RegCloseKey"),
          "the three registry entry points are the system's");

    const int32_t override_class = qrl::read_cpu_override(t);
    const int32_t processor_class = qrl::classify_processor(t);
    const qrl::PROCESSOR_INFO *info = qrl::processor_info();
    std::printf("       vendor %s family %d features 0x%08lx, USECPU %ld, class %ld\n", info->vendor,
                static_cast<int>(info->family), static_cast<unsigned long>(info->feature_flags),
                static_cast<long>(override_class), static_cast<long>(processor_class));
    if (expect_override != -2) {
        char line[96];
        std::snprintf(line, sizeof line, "USECPU read from the registry is %d", expect_override);
        check(override_class == expect_override, line);
    }
    if (expect_class >= 0) {
        char line[96];
        std::snprintf(line, sizeof line, "processor class is %d", expect_class);
        check(processor_class == expect_class, line);
    }
}

void check_file_wrappers() {
    const char *name = "platform_check_wrappers.bin";
    SetLastError(0);
    void *missing = qrl::open_file("platform_check_no_such_dir\\missing.bin", qrl::kGenericRead);
    const DWORD error = GetLastError();
    check(missing == nullptr && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND),
          "open_file of a missing file: none, CreateFileA's error not found");

    void *out = qrl::open_file(name, qrl::kGenericRead | qrl::kGenericWrite);
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    uint32_t written = 0;
    check(out != nullptr && qrl::write_file(out, bytes, 6, &written) != 0 && written == 6,
          "open_file with write access creates; write_file writes 6 bytes");
    check(qrl::seek_file(out, 0, qrl::kSeekFromStart) == 1, "seek_file to 0 from the start returns 1");
    check(qrl::seek_file(out, 2, qrl::kSeekFromCurrent) == 1, "seek_file 2 from the current place");
    uint8_t back[8] = {};
    uint32_t read = 0;
    check(qrl::read_file(out, back, 8, &read) != 0 && read == 4 && back[0] == 3 && back[3] == 6,
          "read_file reads the 4 bytes left");
    check(qrl::seek_file(out, -100, qrl::kSeekFromStart) == 0, "seek_file before the start returns 0");
    check(qrl::close_file(out) != 0, "close_file returns nonzero");

    void *again = qrl::open_file(name, qrl::kGenericRead | qrl::kGenericWrite);
    check(again != nullptr && GetFileSize(again, nullptr) == 0, "write access truncates an existing file");
    (void)qrl::close_file(again);
    DeleteFileA(name);
}

void check_codec_files(const char *sample) {
    Record rec;
    rec.r->jpeg_file_name = "platform_check_no_such_dir\\missing.jpg";
    SetLastError(0);
    const int32_t result = codec_read(rec.r, JPEG_IO_READ_HEADER_FILE);
    const DWORD error = GetLastError();
    check_code(result, JPEG_INVALID_FILE_NAME, "codec_read of a missing file");
    check(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND,
          "the missing file was looked for with CreateFileA");

    {
        // The system service itself meets the bad pointer: either it reports
        // the name invalid or its fault is caught; the checks after this one
        // show that the exception chain survived the jump back.
        Record bad;
        bad.r->jpeg_file_name = reinterpret_cast<const char *>(uintptr_t{16});
        const int32_t r = codec_read(bad.r, JPEG_IO_READ_HEADER_FILE);
        std::printf("       file name pointer 16: %d %s\n", r, codec_error_text(r));
        check(r == JPEG_INVALID_FILE_NAME || r == JPEG_EXCEPTION_DETECTED,
              "a file name pointer of 16 handed to CreateFileA");
    }

    std::vector<uint8_t> memory = read_bytes(sample), from_file, from_memory;
    check(!memory.empty(), "sample readable");
    check_code(decode_rgb(sample, nullptr, &from_file), JPEG_OK, "decode from the file");
    check_code(decode_rgb(nullptr, &memory, &from_memory), JPEG_OK, "decode from memory");
    check(!from_file.empty() && from_file == from_memory, "file and memory decodes give the same pixels");

    // A processor fault inside codec_read is reported, and the process goes on.
    std::vector<uint8_t> unused;
    check_code(decode_rgb(nullptr, &memory, &unused, no_access_page()), JPEG_EXCEPTION_DETECTED,
               "decode into a page without access");
    check_code(decode_rgb(nullptr, &memory, &unused), JPEG_OK, "a decode after the fault");
}

// Encodes a small picture to a file (default comment through wsprintfA) and to
// memory, reads the comment back and tries bad comment pointers both ways.
void check_encode_and_comments() {
    const int32_t w = 40, h = 24;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t *p = &pixels[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(x * 6);
            p[1] = static_cast<uint8_t>(255 - y * 10);
            p[2] = static_cast<uint8_t>((x + y) * 4);
        }
    auto describe = [&](JPEG_CODEC_RECORD *r) {
        r->image_pixels = pixels.data();
        r->image_width = w;
        r->image_height = h;
        r->image_pad_bytes = 0;
        r->image_channels = 3;
        r->image_color = COLOR_RGB;
        r->jpeg_width = w;
        r->jpeg_height = h;
        r->jpeg_channels = 3;
        r->jpeg_color = COLOR_YCBCR;
        r->jpeg_subsampling = SUBSAMPLING_2X2;
        r->jpeg_quality = 90;
    };
    const char *name = "platform_check_encoded.jpg";
    {
        Record rec;
        describe(rec.r);
        rec.r->jpeg_file_name = name;
        check_code(codec_write(rec.r, JPEG_IO_ENCODE_FILE), JPEG_OK, "encode to a file");
    }
    std::vector<uint8_t> memory(64 * 1024);
    {
        Record rec;
        describe(rec.r);
        rec.r->jpeg_buffer = memory.data();
        rec.r->jpeg_buffer_size = static_cast<int32_t>(memory.size());
        check_code(codec_write(rec.r, JPEG_IO_ENCODE_MEM), JPEG_OK, "encode to memory");
        memory.resize(static_cast<size_t>(rec.r->jpeg_buffer_size));
    }
    std::vector<uint8_t> file = read_bytes(name);
    check(!file.empty() && file == memory, "WriteFile wrote the same stream as the memory encode");

    {
        Record rec;
        char comment[256] = {};
        rec.r->jpeg_file_name = name;
        rec.r->props.jpeg_comment = reinterpret_cast<uint8_t *>(comment);
        rec.r->props.jpeg_comment_size = sizeof comment - 1;
        check_code(codec_read(rec.r, JPEG_IO_READ_HEADER_FILE), JPEG_OK, "header of the encoded file");
        const VERSION_INFO *v = codec_version();
        char expected[256];
        std::snprintf(expected, sizeof expected, "quorrel %s %s", v->version, v->internal_version);
        std::printf("       comment \"%s\"\n", comment);
        check(std::strcmp(comment, expected) == 0, "the default comment was formatted by wsprintfA");
    }
    uint8_t *bad = no_access_page();
    {
        Record rec;
        rec.r->jpeg_buffer = memory.data();
        rec.r->jpeg_buffer_size = static_cast<int32_t>(memory.size());
        rec.r->props.jpeg_comment = bad;
        rec.r->props.jpeg_comment_size = 200;
        check_code(codec_read(rec.r, JPEG_IO_READ_HEADER_MEM), JPEG_COMMENT_ACCESS_ERROR,
                   "read with an unwritable comment buffer");
    }
    {
        Record rec;
        rec.r->jpeg_buffer = memory.data();
        rec.r->jpeg_buffer_size = static_cast<int32_t>(memory.size());
        rec.r->props.jpeg_comment = reinterpret_cast<uint8_t *>(uintptr_t{16});
        rec.r->props.jpeg_comment_size = 200;
        check_code(codec_read(rec.r, JPEG_IO_READ_HEADER_MEM), JPEG_COMMENT_ACCESS_ERROR,
                   "read with comment pointer 16");
    }
    {
        Record rec;
        std::vector<uint8_t> out(64 * 1024);
        describe(rec.r);
        rec.r->jpeg_buffer = out.data();
        rec.r->jpeg_buffer_size = static_cast<int32_t>(out.size());
        rec.r->props.jpeg_comment = bad;
        rec.r->props.jpeg_comment_size = 16;
        check_code(codec_write(rec.r, JPEG_IO_ENCODE_MEM), JPEG_COMMENT_ACCESS_ERROR,
                   "write with an unreadable comment");
    }
    DeleteFileA(name);
}

// ---- The fault guard on its own ------------------------------------------------

int32_t divide_by_zero(void *context) {
    volatile int32_t zero = *static_cast<int32_t *>(context);
    return 100 / zero - 100; // 0 when the divisor is 1
}

int32_t illegal_instruction(void *) { __builtin_trap(); }

int32_t write_to_page(void *context) {
    *static_cast<volatile uint8_t *>(context) = 1;
    return 0;
}

int32_t run_guarded_inner(void *page) { return qrl::run_guarded(write_to_page, page, JPEG_COMMENT_ACCESS_ERROR); }

// A guard inside a guard: the inner fault gives the inner code and the outer
// call goes on to return normally.
int32_t nested_guard(void *context) {
    return run_guarded_inner(context) == JPEG_COMMENT_ACCESS_ERROR ? JPEG_OK : JPEG_INTERNAL_ERROR;
}

// The host's own handler, registered last: it sees only what the library
// leaves alone, and resumes the host at g_host_jump.
jmp_buf g_host_jump;
int g_host_handler_calls = 0;

[[noreturn]] __attribute__((noinline)) void host_resume() { std::longjmp(g_host_jump, 1); }

LONG CALLBACK host_handler(EXCEPTION_POINTERS *info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
    ++g_host_handler_calls;
    info->ContextRecord->Esp = (info->ContextRecord->Esp & ~static_cast<DWORD>(15)) - 4;
    info->ContextRecord->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&host_resume));
    return EXCEPTION_CONTINUE_EXECUTION;
}

DWORD WINAPI guarded_fault_thread(void *page) {
    return static_cast<DWORD>(qrl::run_guarded(write_to_page, page, JPEG_EXCEPTION_DETECTED));
}

void check_fault_guard() {
    int32_t zero = 0;
    check_code(qrl::run_guarded(divide_by_zero, &zero, JPEG_EXCEPTION_DETECTED), JPEG_EXCEPTION_DETECTED,
               "run_guarded: integer division by zero");
    check_code(qrl::run_guarded(illegal_instruction, nullptr, JPEG_EXCEPTION_DETECTED), JPEG_EXCEPTION_DETECTED,
               "run_guarded: illegal instruction");
    uint8_t *page = no_access_page();
    check_code(qrl::run_guarded(nested_guard, page, JPEG_EXCEPTION_DETECTED), JPEG_OK,
               "run_guarded: a fault in a nested guard stays in it");
    int32_t one = 1;
    check_code(qrl::run_guarded(divide_by_zero, &one, JPEG_EXCEPTION_DETECTED), JPEG_OK,
               "run_guarded: no fault, the function's result");

    HANDLE thread = CreateThread(nullptr, 0, guarded_fault_thread, page, 0, nullptr);
    DWORD thread_result = 0;
    check(thread != nullptr && WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0 &&
              GetExitCodeThread(thread, &thread_result) != 0 &&
              static_cast<int32_t>(thread_result) == JPEG_EXCEPTION_DETECTED,
          "a guarded fault on a second thread returns to that thread's guard");
    if (thread != nullptr) CloseHandle(thread);

    void *host = AddVectoredExceptionHandler(0, host_handler);
    check_code(qrl::run_guarded(write_to_page, page, JPEG_EXCEPTION_DETECTED), JPEG_EXCEPTION_DETECTED,
               "a guarded fault with a host handler present");
    check(g_host_handler_calls == 0, "the host's handler did not see the guarded fault");
    volatile bool resumed = false;
    if (setjmp(g_host_jump) == 0) {
        (void)write_to_page(page);
    } else {
        resumed = true;
    }
    check(resumed && g_host_handler_calls == 1, "a fault outside every guard reaches the host's handler");
    RemoveVectoredExceptionHandler(host);
}

void check_unload() {
    {
        Record a;
        {
            Record b;
        }
        check(qrl::format_print != nullptr, "a record still open keeps the user32 entry points");
    }
    check(qrl::message_box == nullptr && qrl::peek_message == nullptr &&
              qrl::post_quit_message == nullptr && qrl::format_print == nullptr,
          "the last codec_free clears the four user32 entry points");
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: platform_check SAMPLE.jpg [--expect-class N] [--expect-override N]\n");
        return 2;
    }
    int expect_class = -1, expect_override = -2;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--expect-class") == 0) expect_class = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--expect-override") == 0) expect_override = std::atoi(argv[i + 1]);
    }
    check_modules_and_class(expect_class, expect_override);
    check_file_wrappers();
    check_codec_files(argv[1]);
    check_encode_and_comments();
    check_fault_guard();
    check_unload();
    std::printf("platform_check: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
