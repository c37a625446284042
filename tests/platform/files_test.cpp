#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "scratch_dir.h"

namespace {

constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareRW = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

class Files : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(Files, Dispositions) {
  struct Case {
    const char* what;
    bool exists;
    DWORD disposition;
    bool opens;
    DWORD error;
    const char* contentsAfter;
  } cases[] = {
      {"create new, missing", false, CREATE_NEW, true, ERROR_SUCCESS, ""},
      {"create new, present", true, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
      {"create always, missing", false, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
      {"create always, present", true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {"open existing, missing", false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {"open existing, present", true, OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
      {"open always, missing", false, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
      {"open always, present", true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
      {"truncate existing, missing", false, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND,
       "<missing>"},
      {"truncate existing, present", true, TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir.Posix("f"));
    if (c.exists) dir.WriteFile("f", "old");
    SetLastError(0xDEAD);
    HANDLE file = Open(dir.Windows("f"), kRW, 0, c.disposition);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_NE(file, nullptr);
      CloseHandle(file);
    }
    EXPECT_EQ(dir.ReadFile("f"), c.contentsAfter) << c.what;
  }
}

TEST_F(Files, MissingDirectoryAndDirectoryAsFile) {
  EXPECT_EQ(Open(dir.Windows("none\\f"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Open(dir.Windows("none\\f"), kRW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  for (DWORD access : {static_cast<DWORD>(GENERIC_READ), kRW}) {
    EXPECT_EQ(Open(dir.Windows(), access, kShareRW, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(Open("", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
}

TEST_F(Files, SharingBetweenTwoHandles) {
  struct Case {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
  } cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {kRW, 0, GENERIC_READ, kShareRW, false},
      {GENERIC_READ, FILE_SHARE_READ, kRW, kShareRW, false},  // first does not share writing
      {GENERIC_READ, kShareRW, GENERIC_WRITE, FILE_SHARE_READ, true},
      {GENERIC_READ, kShareRW, GENERIC_READ, 0, false},  // second would exclude the first
      {GENERIC_WRITE, FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_WRITE, false},
      {0, 0, kRW, 0, true},  // no data access restricts nobody
      {kRW, 0, 0, 0, true},
  };
  dir.WriteFile("f", "data");
  for (const Case& c : cases) {
    HANDLE first = Open(dir.Windows("f"), c.firstAccess, c.firstShare, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = Open(dir.Posix("f"), c.secondAccess, c.secondShare, OPEN_EXISTING);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens)
        << std::hex << c.firstAccess << "/" << c.firstShare << " then " << c.secondAccess << "/"
        << c.secondShare;
    if (second != INVALID_HANDLE_VALUE) {
      CloseHandle(second);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(first);
  }
  // Once closed, the file is free again.
  HANDLE again = Open(dir.Windows("f"), kRW, 0, OPEN_EXISTING);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST_F(Files, RefusedReplacementLeavesTheFileAlone) {
  dir.WriteFile("f", "keep me");
  HANDLE holder = Open(dir.Windows("f"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(dir.Windows("f"), kRW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA(dir.Windows("f").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(holder);
  EXPECT_EQ(dir.ReadFile("f"), "keep me");
}

TEST_F(Files, OnlyOneOfTwoSimultaneousExclusiveOpensWins) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> opened{0};
    std::vector<HANDLE> handles(2, INVALID_HANDLE_VALUE);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([&, t] {
        handles[t] = Open(dir.Windows("same"), kRW, 0, OPEN_ALWAYS);
        if (handles[t] != INVALID_HANDLE_VALUE) ++opened;
      });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(opened.load(), 1) << "round " << round;
    for (HANDLE h : handles) {
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
}

TEST_F(Files, ReadOnlyFileRefusesWritingAndDeletionEvenForRoot) {
  dir.WriteFile("ro", "locked");
  chmod(dir.Posix("ro").c_str(), 0444);
  EXPECT_EQ(GetFileAttributesA(dir.Windows("ro").c_str()), FILE_ATTRIBUTE_READONLY);
  for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS, TRUNCATE_EXISTING}) {
    EXPECT_EQ(Open(dir.Windows("ro"), kRW, 0, disposition), INVALID_HANDLE_VALUE) << disposition;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << disposition;
  }
  EXPECT_FALSE(DeleteFileA(dir.Windows("ro").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(dir.ReadFile("ro"), "locked");
  HANDLE reader = Open(dir.Windows("ro"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
}

TEST_F(Files, ReadWriteAndPosition) {
  HANDLE file = Open(dir.Windows("f"), kRW, 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 99;
  ASSERT_TRUE(WriteFile(file, "0123456789", 10, &count, nullptr));
  EXPECT_EQ(count, 10u);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 0u);  // at the end: success with nothing
  EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_END), 6u);
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "6789");
  EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_BEGIN), 2u);
  ASSERT_TRUE(ReadFile(file, buffer, 3, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "234");
  CloseHandle(file);

  HANDLE reader = Open(dir.Windows("f"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(reader);
  HANDLE writer = Open(dir.Windows("f"), GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_FALSE(ReadFile(writer, buffer, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(writer);
}

TEST_F(Files, HandlesAreSmallNumbersTellableFromAddresses) {
  std::set<HANDLE> seen;
  std::vector<HANDLE> open;
  for (int i = 0; i < 40; ++i) {
    HANDLE file = Open(dir.Windows("f" + std::to_string(i)), kRW, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(file) >> 16, 0u);
    EXPECT_TRUE(seen.insert(file).second);
    open.push_back(file);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 1, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mapping) >> 16, 0u);
    EXPECT_TRUE(seen.insert(mapping).second);
    open.push_back(mapping);
  }
  for (HANDLE h : open) EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, UnknownHandlesAreRejected) {
  HANDLE file = Open(dir.Windows("f"), kRW, 0, CREATE_NEW);
  ASSERT_TRUE(CloseHandle(file));
  char buffer[4];
  DWORD count;
  const HANDLE stale[] = {file, nullptr, INVALID_HANDLE_VALUE, buffer,
                          reinterpret_cast<HANDLE>(0xFFFF), reinterpret_cast<HANDLE>(0xFFFC)};
  for (HANDLE h : stale) {
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(h, buffer, 4, &count, nullptr));
    EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0), nullptr);
  }
}

TEST_F(Files, WritableMappingMakesTheFileExactlyItsSize) {
  HANDLE file = Open(dir.Windows("out"), kRW, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 70000, nullptr);
  ASSERT_NE(mapping, nullptr);
  char* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  memcpy(view + 69995, "tail", 5);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  CloseHandle(mapping);
  CloseHandle(file);
  const std::string contents = dir.ReadFile("out");
  ASSERT_EQ(contents.size(), 70000u);
  EXPECT_EQ(contents.substr(69995), std::string("tail", 5));
}

TEST_F(Files, MappingFailures) {
  dir.WriteFile("empty", "");
  dir.WriteFile("small", "abc");
  HANDLE empty = Open(dir.Windows("empty"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE small = Open(dir.Windows("small"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(CreateFileMappingA(empty, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
  // Growing the file needs a writable mapping, and that a writable handle.
  EXPECT_EQ(CreateFileMappingA(small, nullptr, PAGE_READONLY, 0, 4, nullptr), nullptr);
  EXPECT_EQ(CreateFileMappingA(small, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE mapping = CreateFileMappingA(small, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4), nullptr);  // past the end
  EXPECT_EQ(dir.ReadFile("small"), "abc");
  CloseHandle(mapping);
  CloseHandle(small);
  CloseHandle(empty);
}

TEST_F(Files, MappingOutlivesItsFileHandleAndProtectsTheFile) {
  dir.WriteFile("in", "mapped bytes");
  HANDLE file = Open(dir.Windows("in"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  ASSERT_TRUE(CloseHandle(file));
  const char* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(CloseHandle(mapping));
  EXPECT_EQ(std::string(view, 12), "mapped bytes");
  // Cutting the file short would pull the pages from under the view.
  EXPECT_EQ(Open(dir.Windows("in"), kRW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(dir.Windows("in").c_str()));
  EXPECT_EQ(std::string(view, 12), "mapped bytes");
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(DeleteFileA(dir.Windows("in").c_str()));
}

}  // namespace
