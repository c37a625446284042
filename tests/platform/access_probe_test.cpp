#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// Pages with chosen protections, side by side.
class PageRun {
 public:
  explicit PageRun(const std::vector<int>& protections, bool fill = true)
      : size_(protections.size() * kPage) {
    base_ = static_cast<uint8_t*>(
        mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base_ == MAP_FAILED) throw std::runtime_error("mmap failed");
    for (size_t i = 0; fill && i < size_; ++i) base_[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t i = 0; i < protections.size(); ++i) mprotect(Page(i), kPage, protections[i]);
  }
  ~PageRun() { munmap(base_, size_); }
  uint8_t* Page(size_t index) const { return base_ + index * kPage; }

 private:
  uint8_t* base_;
  size_t size_;
};

constexpr int kRW = PROT_READ | PROT_WRITE;
constexpr int kRO = PROT_READ;
constexpr int kNone = PROT_NONE;

TEST(AccessProbe, RangesAroundReadOnlyAndNoAccessPages) {
  // [read-write][read-only][no access]
  PageRun run({kRW, kRO, kNone});
  uint8_t* readOnly = run.Page(1);
  uint8_t* noAccess = run.Page(2);
  struct Case {
    const char* what;
    uint8_t* start;
    size_t bytes;
    BOOL badRead;
    BOOL badWrite;
  } cases[] = {
      {"read-write page whole", run.Page(0), kPage, FALSE, FALSE},
      {"ends just before the read-only page", readOnly - 100, 100, FALSE, FALSE},
      {"runs one byte into the read-only page", readOnly - 100, 101, FALSE, TRUE},
      {"read-only page alone", readOnly + 5, 10, FALSE, TRUE},
      {"ends just before the no-access page", noAccess - 1, 1, FALSE, TRUE},
      {"runs one byte into the no-access page", noAccess - 1, 2, TRUE, TRUE},
      {"starts in the no-access page", noAccess, 1, TRUE, TRUE},
      {"zero bytes at the no-access page", noAccess, 0, FALSE, FALSE},
      {"all three pages", run.Page(0), 3 * kPage, TRUE, TRUE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsBadReadPtr(c.start, c.bytes), c.badRead) << c.what;
    EXPECT_EQ(IsBadWritePtr(c.start, c.bytes), c.badWrite) << c.what;
  }
}

TEST(AccessProbe, NullAndWrappingRanges) {
  EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
  EXPECT_TRUE(IsBadWritePtr(nullptr, 1));
  EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
  EXPECT_FALSE(IsBadWritePtr(nullptr, 0));
  char local[16];
  EXPECT_TRUE(IsBadReadPtr(local, UINTPTR_MAX));
  EXPECT_TRUE(IsBadWritePtr(local, UINTPTR_MAX));
}

TEST(AccessProbe, HoleFoundAtEveryPositionOfTheBatches) {
  // The probe asks about many pages per system call; a hole on either side
  // of a batch boundary must still be seen.
  const size_t pages = 1100;
  for (size_t hole : {size_t{0}, size_t{1023}, size_t{1024}, pages - 1}) {
    std::vector<int> protections(pages, kRW);
    protections[hole] = kNone;
    PageRun run(protections, false);
    EXPECT_TRUE(IsBadReadPtr(run.Page(0), pages * kPage)) << hole;
    EXPECT_TRUE(IsBadWritePtr(run.Page(0), pages * kPage)) << hole;
    if (hole > 0) {
      EXPECT_FALSE(IsBadReadPtr(run.Page(0), hole * kPage)) << hole;
      EXPECT_FALSE(IsBadWritePtr(run.Page(0), hole * kPage)) << hole;
    }
    if (hole + 1 < pages) {
      EXPECT_FALSE(IsBadReadPtr(run.Page(hole + 1), (pages - hole - 1) * kPage)) << hole;
    }
  }
}

TEST(AccessProbe, WriteProbeLeavesTheBytesAsTheyWere) {
  PageRun run({kRW, kRW, kRW});
  std::vector<uint8_t> before(run.Page(0), run.Page(0) + 3 * kPage);
  ASSERT_FALSE(IsBadWritePtr(run.Page(0) + 3, 3 * kPage - 3));
  EXPECT_EQ(0, memcmp(before.data(), run.Page(0), before.size()));
}

}  // namespace
