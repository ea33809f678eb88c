// The test host's own fault detectors: they must notice a perform routine that
// allocates, a write beside a record and an output sample left unwritten. A small class
// registered in-process misbehaves on request.
#include "host.h"
#include "tavrelle.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif

#include <cstdlib>

namespace {

enum Fault : int32_t { kNone, kAllocate, kSkipLastSample, kSubnormal };

struct t_faulty {
    t_object x_obj;
    t_float x_f;
    int32_t x_fault;
};
TAVRELLE_RECORD(t_faulty);

t_class *faulty_class;
void *volatile g_sink; // keeps the compiler from eliding an allocation

void malloc_and_free(std::size_t n) {
    g_sink = std::malloc(n);
    std::free(g_sink);
}

t_int *faulty_perform(t_int *w) {
    auto [x, in, out, n] = tav::unpack<t_faulty>(w);
    if (x->x_fault == kAllocate) malloc_and_free(32);
    int last = x->x_fault == kSkipLastSample ? n - 1 : n;
    const float scale = x->x_fault == kSubnormal ? 0x1p-120f : 1.0f;
    for (int i = 0; i < last; i++) out[i] = in[i] * scale;
    return w + 5;
}

void faulty_dsp(t_faulty *x, t_signal **sp) { tav::add_perform(faulty_perform, x, sp); }

void *faulty_new() {
    auto *x = reinterpret_cast<t_faulty *>(pd_new(faulty_class));
    outlet_new(&x->x_obj, &s_signal);
    return x;
}

// Registered directly with the host, which then finds it without loading a plug-in.
struct Faulty : host::Object {
    explicit Faulty(Fault fault) : host::Object(registered()) {
        reinterpret_cast<t_faulty *>(get())->x_fault = fault;
    }
    static const char *registered() {
        if (!faulty_class) {
            faulty_class = class_new(gensym("tavrelle-faulty~"), (t_newmethod)faulty_new, nullptr,
                                     sizeof(t_faulty), 0, A_NULL);
            tav::add_main_signal_inlet<t_faulty>(faulty_class);
            tav::add_dsp_method(faulty_class, (t_method)faulty_dsp);
        }
        return "tavrelle-faulty~";
    }
};

// The messages of the failures that `body` reports.
template <class Body> std::vector<std::string> failures_of(Body body) {
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        body();
    }
    std::vector<std::string> messages;
    for (int i = 0; i < results.size(); i++) messages.push_back(results.GetTestPartResult(i).message());
    return messages;
}

bool mentions(const std::vector<std::string> &messages, const std::string &part) {
    for (auto &m : messages)
        if (m.find(part) != std::string::npos) return true;
    return false;
}

TEST(HostWatch, CountsAllocationsAndFreesOnlyWhileOpen) {
    malloc_and_free(8);
    host::AllocationWatch watch;
    EXPECT_EQ(watch.count(), 0u);
    malloc_and_free(24);
    g_sink = new int(3);
    delete static_cast<int *>(g_sink);
    EXPECT_EQ(watch.count(), 4u);
}

TEST(HostWatch, APerformThatAllocatesFailsTheBlock) {
    Faulty quiet(kNone);
    quiet.dsp(44100.0f, 8);
    EXPECT_TRUE(failures_of([&] { quiet.run(std::vector<float>(16, 0.5f)); }).empty());

    Faulty greedy(kAllocate);
    greedy.dsp(44100.0f, 8);
    EXPECT_TRUE(mentions(failures_of([&] { greedy.tick(); }), "allocated or freed memory in perform"));
}

// Flushing off, a perform routine that rounds a result into the subnormal range raises the
// flag the host watches; flushing on, it makes a zero of the same sign.
TEST(HostWatch, SubnormalArithmeticInPerformFailsTheBlock) {
    Faulty faint(kSubnormal);
    faint.dsp(44100.0f, 2);
    host::watch_subnormal_flags(true);
    EXPECT_TRUE(failures_of([&] { faint.run({1.0f, 0.5f}); }).empty());
    EXPECT_TRUE(mentions(failures_of([&] { faint.run({0x1.555556p-10f, -1.0f}); }), "subnormal"));
    {
        host::FlushToZero flushing;
        auto out = faint.run({-0x1.555556p-10f, 1.0f});
        EXPECT_EQ(std::bit_cast<std::uint32_t>(out[0]), 0x80000000u);
    }
    host::watch_subnormal_flags(false);
    EXPECT_TRUE(failures_of([&] { faint.run({0x1.555556p-10f, 1.0f}); }).empty());
}

TEST(HostWatch, AnUnwrittenSampleKeepsThePattern) {
    Faulty lazy(kSkipLastSample);
    lazy.dsp(44100.0f, 4);
    auto out = lazy.run({1.0f, 2.0f, 3.0f, 4.0f});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2], 3.0f);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(out[3]), host::kUnwritten);
}

// Under AddressSanitizer the zones are poisoned, so the sanitizer stops such a write
// itself; without it the fill pattern shows the write.
TEST(HostGuards, AWriteBesideTheRecordIsNoticed) {
    Faulty obj(kNone);
    auto *after = reinterpret_cast<unsigned char *>(obj.get()) + obj.info().size;
    auto *before = reinterpret_cast<unsigned char *>(obj.get()) - 1;
#ifdef TAVRELLE_HOST_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(after));
    EXPECT_TRUE(__asan_address_is_poisoned(before));
    EXPECT_FALSE(__asan_address_is_poisoned(after - 1));
#else
    EXPECT_TRUE(obj.guards_intact());
    for (unsigned char *p : {after, before, after + host::kGuardBytes - 1}) {
        unsigned char kept = *p;
        *p = 0;
        EXPECT_FALSE(obj.guards_intact());
        *p = kept;
        EXPECT_TRUE(obj.guards_intact());
    }
#endif
}

TEST(HostClasses, TheBuildListsEveryClassOnce) {
    auto names = host::all_classes();
    EXPECT_GE(names.size(), 6u);
    for (auto &n : names) {
        EXPECT_EQ(std::count(names.begin(), names.end(), n), 1) << n;
        EXPECT_EQ(host::load(n).name, n);
    }
}

} // namespace
