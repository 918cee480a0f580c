// Decoding must not allocate: every allocation of the process is counted
// while a stream is decoded, between creation and destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decoder_test_util.h"
#include "h264_stream_builder.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
void Count() {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer owns malloc; it reports every allocation through its hook.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                      void (*)(const volatile void *));
namespace {
void OnMalloc(const volatile void *, size_t) { Count(); }
void OnFree(const volatile void *) {}
const int g_hooked = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace
#else
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
}

// Interposed for the whole test process; operator new ends up here too.
extern "C" void *malloc(size_t n) {
    Count();
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n) {
    Count();
    return __libc_realloc(p, n);
}
extern "C" void *aligned_alloc(size_t alignment, size_t n) {
    Count();
    return __libc_memalign(alignment, n);
}
extern "C" int posix_memalign(void **out, size_t alignment, size_t n) {
    Count();
    *out = __libc_memalign(alignment, n);
    return *out ? 0 : 12;
}
#endif

using namespace h264test;

namespace {

std::vector<uint8_t> ReadFile(const std::string &path) {
    std::vector<uint8_t> bytes;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

long AllocationsWhileDecoding(H264Decoder *h, const std::vector<uint8_t> &stream, size_t piece, int *pictures) {
    DecodedPicture pic;
    *pictures = 0;
    g_allocations = 0;
    g_counting = true;
    for (size_t pos = 0; pos < stream.size(); pos += piece) {
        const size_t n = std::min(piece, stream.size() - pos);
        for (int r = H264Decoder_Decode(h, stream.data() + pos, uint32_t(n), 0, 0, &pic, 0); r == DEC_OK;
             r = H264Decoder_Decode(h, nullptr, 0, 0, 0, &pic, 0))
            ++*pictures;
    }
    while (H264Decoder_Decode(h, nullptr, 0, 0, 0, &pic, DEC_FLAG_END_OF_STREAM) == DEC_OK) ++*pictures;
    g_counting = false;
    return g_allocations.load();
}

TEST(NoAllocation, CountingSeesAllocations) {
    // The counter itself works (otherwise the tests below prove nothing).
    g_allocations = 0;
    g_counting = true;
    auto *p = new std::vector<int>(100);
    g_counting = false;
    delete p;
    EXPECT_GE(g_allocations.load(), 2);
}

TEST(NoAllocation, DecodingAllocatesNothing) {
    const std::string dir = TESSALY_H264_TESTDATA;
    struct Case {
        const char *file;
        uint32_t widthMbs, heightMbs, mode;
    };
    for (const Case &c : {Case{"/conf/SVA_BA2_D.264", 11, 9, 0}, Case{"/jm/f_mmco_cabac_cif.264", 22, 18, 0},
                          Case{"/jm/c_paff_cavlc_main_d1.264", 44, 36, DEC_MODE_DISPLAY_ORDER},
                          Case{"/jm/h_slices_dbk2_cabac_cif.264", 22, 18, DEC_MODE_SLICE_THREADS},
                          Case{"/jm/c_paff_cavlc_main_d1.264", 44, 36,
                               DEC_MODE_SLICE_THREADS | DEC_MODE_FIELD_MERGE}}) {
        const std::vector<uint8_t> stream = ReadFile(dir + c.file);
        ASSERT_FALSE(stream.empty()) << c.file;
        std::unique_ptr<H264Decoder, DecoderDeleter> h(MakeDecoder(c.widthMbs, c.heightMbs, 16, c.mode));
        ASSERT_TRUE(h);
        int pictures = 0;
        EXPECT_EQ(AllocationsWhileDecoding(h.get(), stream, 4093, &pictures), 0) << c.file;
        EXPECT_GT(pictures, 0) << c.file;
    }
}

}  // namespace
