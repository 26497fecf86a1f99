#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "yar/yar_error.h"
#include "yar/yar_file.h"

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/yar-file-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + m_dir).c_str()); }

    std::string Path(const std::string &name) const { return m_dir + "/" + name; }

    static void Write(const std::string &path, const std::string &content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static bool Exists(const std::string &path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    std::string m_dir;
};

struct FileCloser {
    YAR_FILE_HANDLE h;
    ~FileCloser() {
        if (h != YAR_INVALID_FILE)
            YAR_CloseFile(h);
    }
};

int64_t Us(const timespec &t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

}  // namespace

TEST_F(FileTest, OpenFlagsCreateTruncateAppendAndRefuse) {
    struct Case {
        const char *name;
        bool exists;
        uint32_t flags, attrs;
        int syserr;            // 0: the open succeeds
        const char *content;   // after writing "XY" through the handle
        mode_t perms;          // permission bits stat reports afterwards
    };
    const Case cases[] = {
        {"exclusive create of an existing file", true, 1 | 4 | 0x40, 0, YAR_SYSERR_FILE_EXISTS, "hello", 0644},
        {"exclusive without create", true, 0x40 | 2, 0, YAR_SYSERR_INVALID_PARAMETER, "hello", 0644},
        {"append positions at the end", true, 2 | 4 | 8, 0, 0, "helloXY", 0644},
        {"create with truncate", true, 2 | 4 | 0x10, 0, 0, "XY", 0644},
        {"open existing writes over the start", true, 2, 0, 0, "XYllo", 0644},
        {"truncate existing", true, 2 | 0x10, 0, 0, "XY", 0644},
        {"open missing", false, 2, 0, YAR_SYSERR_FILE_NOT_FOUND, nullptr, 0},
        {"truncate missing", false, 2 | 0x10, 0, YAR_SYSERR_FILE_NOT_FOUND, nullptr, 0},
        {"create missing", false, 1 | 2 | 4, 0, 0, "XY", 0644},
        {"exclusive create of a missing file", false, 2 | 4 | 0x40, 0, 0, "XY", 0644},
        {"read-only attribute on create", false, 2 | 4, 0x1000, 0, "XY", 0444},
        {"hidden, system and unbuffered are accepted", false, 2 | 4 | 0x800, 0x8000 | 0x100, 0, "XY", 0644},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path("f");
        unlink(path.c_str());
        if (c.exists) {
            Write(path, "hello");
            chmod(path.c_str(), 0644);
        }
        YAR_SetSystemLastError(0);
        YAR_FILE_HANDLE h = YAR_OpenFile(path.c_str(), c.flags, c.attrs);
        if (c.syserr) {
            EXPECT_EQ(h, YAR_INVALID_FILE);
            EXPECT_EQ(YAR_GetSystemLastError(), c.syserr);
        } else {
            ASSERT_NE(h, YAR_INVALID_FILE) << YAR_GetSystemLastError();
            uint32_t written = 0;
            EXPECT_EQ(YAR_WriteFile(h, "XY", 2, &written), 0);
            EXPECT_EQ(written, 2u);
            YAR_FINFO_T info;
            ASSERT_EQ(YAR_FileStat(h, &info), 0);
            EXPECT_EQ(info.dwMode, c.perms & 0200 ? 0x6000u : 0x1000u);
            EXPECT_EQ(YAR_CloseFile(h), 0);
        }
        if (c.content) {
            EXPECT_EQ(Read(path), c.content);
            struct stat st;
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, c.perms);
        } else {
            EXPECT_FALSE(Exists(path));
        }
    }
    EXPECT_EQ(YAR_OpenFile(nullptr, 1, 0), YAR_INVALID_FILE);
    EXPECT_EQ(YAR_OpenFile(m_dir.c_str(), 1, 0), YAR_INVALID_FILE);  // a directory is no file
}

TEST_F(FileTest, ReadOnlyHandleRefusesWritesAndInvalidHandlesFail) {
    Write(Path("r"), "data");
    FileCloser f{YAR_OpenFile(Path("r").c_str(), 1, 0)};
    ASSERT_NE(f.h, YAR_INVALID_FILE);
    uint32_t count = 99;
    EXPECT_EQ(YAR_WriteFile(f.h, "x", 1, &count), -1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_INVALID_HANDLE);
    char buf[8];
    count = 99;
    EXPECT_EQ(YAR_ReadFile(YAR_INVALID_FILE, buf, sizeof buf, &count), -1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(YAR_CloseFile(YAR_INVALID_FILE), -1);
    EXPECT_EQ(YAR_FileSeek(f.h, 0, 3, nullptr), -1);
    EXPECT_EQ(YAR_FileStat(f.h, nullptr), -1);
    EXPECT_EQ(YAR_FileEof(YAR_INVALID_FILE), 0);
}

TEST_F(FileTest, ReadAtTheEndGivesZeroAndTheEofState) {
    Write(Path("e"), "abc");
    FileCloser f{YAR_OpenFile(Path("e").c_str(), 1, 0)};
    char buf[16];
    uint32_t count = 0;
    ASSERT_EQ(YAR_ReadFile(f.h, buf, sizeof buf, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(YAR_FileEof(f.h), 0);
    count = 99;
    ASSERT_EQ(YAR_ReadFile(f.h, buf, sizeof buf, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(YAR_FileEof(f.h), 1);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_HANDLE_EOF);
    ASSERT_EQ(YAR_FileSeek(f.h, -2, 2, nullptr), 0);
    ASSERT_EQ(YAR_ReadFile(f.h, buf, sizeof buf, &count), 0);
    EXPECT_EQ(std::string(buf, count), "bc");
    EXPECT_EQ(YAR_FileEof(f.h), 0);
}

TEST_F(FileTest, SparseFileAbove4GiBKeeps64BitSizesAndOffsets) {
    const int64_t fiveGiB = 5ll << 30;
    FileCloser f{YAR_OpenFile(Path("sparse").c_str(), 1 | 2 | 4, 0)};
    ASSERT_NE(f.h, YAR_INVALID_FILE);
    int64_t pos = 0;
    ASSERT_EQ(YAR_FileSeek(f.h, fiveGiB, 0, &pos), 0);
    EXPECT_EQ(pos, fiveGiB);
    ASSERT_EQ(YAR_WriteFile(f.h, "Z", 1, nullptr), 0);
    ASSERT_EQ(YAR_FileFlush(f.h), 0);

    YAR_FINFO_T info;
    ASSERT_EQ(YAR_FileStat(f.h, &info), 0);
    EXPECT_EQ(info.u64Size, static_cast<uint64_t>(fiveGiB + 1));
    struct stat st;
    ASSERT_EQ(stat(Path("sparse").c_str(), &st), 0);
    EXPECT_EQ(static_cast<int64_t>(info.u64Size), st.st_size);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);  // it stayed sparse

    ASSERT_EQ(YAR_FileSeek(f.h, -1, 2, &pos), 0);
    EXPECT_EQ(pos, fiveGiB);
    char c = 0;
    uint32_t count = 0;
    ASSERT_EQ(YAR_ReadFile(f.h, &c, 1, &count), 0);
    EXPECT_EQ(c, 'Z');
    ASSERT_EQ(YAR_FileSeek(f.h, -(fiveGiB / 2), 1, &pos), 0);
    EXPECT_EQ(pos, fiveGiB + 1 - fiveGiB / 2);
    EXPECT_EQ(YAR_FileSeek(f.h, -1, 0, &pos), -1);

    uint64_t joined = 0;
    YAR_MakeInt64To(static_cast<uint32_t>(info.u64Size), static_cast<uint32_t>(info.u64Size >> 32), &joined);
    EXPECT_EQ(joined, info.u64Size);
}

TEST_F(FileTest, StatAgreesWithTheKernel) {
    Write(Path("s"), "12345");
    ASSERT_EQ(link(Path("s").c_str(), Path("s2").c_str()), 0);
    FileCloser f{YAR_OpenFile(Path("s").c_str(), 1, 0)};
    YAR_FINFO_T info;
    ASSERT_EQ(YAR_FileStat(f.h, &info), 0);
    struct stat st;
    ASSERT_EQ(stat(Path("s").c_str(), &st), 0);
    EXPECT_EQ(info.iType, 2);
    EXPECT_EQ(info.pOwner, nullptr);
    EXPECT_EQ(info.pGroup, nullptr);
    EXPECT_EQ(info.dwLinks, 2u);
    EXPECT_EQ(info.u64Index, st.st_ino);
    EXPECT_EQ(info.dwVolumeSerial, static_cast<uint32_t>(st.st_dev));
    EXPECT_EQ(info.u64Size, 5u);
    EXPECT_EQ(info.i64WriteTime, Us(st.st_mtim));
    EXPECT_EQ(info.i64AccessTime, Us(st.st_atim));
    EXPECT_GT(info.i64CreateTime, 0);

    FileCloser dev{YAR_OpenFile("/dev/null", 1, 0)};
    ASSERT_EQ(YAR_FileStat(dev.h, &info), 0);
    EXPECT_EQ(info.iType, 1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(YAR_FileStat(fds[0], &info), 0);
    EXPECT_EQ(info.iType, 4);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(FileTest, DeleteOnCloseRemovesTheNameOnlyAtClose) {
    const std::string path = Path("temp");
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(m_dir.c_str()), 0);
    YAR_FILE_HANDLE h = YAR_OpenFile("temp", 2 | 4, 0x200);
    ASSERT_EQ(chdir(cwd), 0);  // the relative name must still mean the file it opened
    ASSERT_NE(h, YAR_INVALID_FILE);
    ASSERT_EQ(YAR_WriteFile(h, "scratch", 7, nullptr), 0);
    EXPECT_EQ(Read(path), "scratch");
    EXPECT_EQ(YAR_CloseFile(h), 0);
    EXPECT_FALSE(Exists(path));

    // A later handle on the same descriptor number keeps its file, also when the earlier
    // handle was closed behind the runtime's back.
    YAR_FILE_HANDLE bypassed = YAR_OpenFile(Path("bypassed").c_str(), 2 | 4, 0x200);
    ASSERT_EQ(bypassed, h);
    close(bypassed);
    Write(Path("keep"), "k");
    FileCloser keep{YAR_OpenFile(Path("keep").c_str(), 1, 0)};
    EXPECT_EQ(keep.h, h);
    EXPECT_EQ(YAR_CloseFile(keep.h), 0);
    keep.h = YAR_INVALID_FILE;
    EXPECT_TRUE(Exists(Path("keep")));
    EXPECT_TRUE(Exists(Path("bypassed")));
}

TEST_F(FileTest, MoveAndCopyRefuseExistingTargets) {
    struct Case {
        const char *name;
        int op;  // 0 move, 1 copy failing if the target exists, 2 copy replacing
        const char *src, *dst;
        int syserr;
        const char *srcAfter, *dstAfter;  // null: gone
    };
    const Case cases[] = {
        {"move onto an existing file", 0, "a", "b", YAR_SYSERR_ALREADY_EXISTS, "A", "B"},
        {"move to a new name", 0, "a", "n", 0, nullptr, "A"},
        {"move a missing file", 0, "m", "n", YAR_SYSERR_FILE_NOT_FOUND, nullptr, nullptr},
        {"copy onto an existing file", 1, "a", "b", YAR_SYSERR_FILE_EXISTS, "A", "B"},
        {"copy to a new name", 1, "a", "n", 0, "A", "A"},
        {"copy replacing", 2, "a", "b", 0, "A", "A"},
        {"copy onto itself", 2, "a", "a", YAR_SYSERR_SHARING_VIOLATION, "A", "A"},
        {"copy onto a hard link of itself", 2, "a", "hl", YAR_SYSERR_SHARING_VIOLATION, "A", "A"},
        {"copy a missing file", 2, "m", "n", YAR_SYSERR_FILE_NOT_FOUND, nullptr, nullptr},
        {"copy a directory", 2, "d", "n", YAR_SYSERR_ACCESS_DENIED, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::system(("rm -rf " + m_dir + "/*").c_str());
        Write(Path("a"), "A");
        Write(Path("b"), "B");
        ASSERT_EQ(link(Path("a").c_str(), Path("hl").c_str()), 0);
        ASSERT_EQ(mkdir(Path("d").c_str(), 0755), 0);
        YAR_SetSystemLastError(0);
        const std::string src = Path(c.src), dst = Path(c.dst);
        int r = c.op == 0 ? YAR_MoveFile(src.c_str(), dst.c_str())
                          : YAR_CopyFile(src.c_str(), dst.c_str(), c.op == 1);
        EXPECT_EQ(r, c.syserr ? -1 : 0);
        EXPECT_EQ(YAR_GetSystemLastError(), c.syserr);
        if (std::strcmp(c.src, "d") == 0)
            continue;
        if (c.srcAfter) {
            EXPECT_EQ(Read(src), c.srcAfter);
        } else {
            EXPECT_FALSE(Exists(src));
        }
        if (c.dstAfter) {
            EXPECT_EQ(Read(dst), c.dstAfter);
        } else {
            EXPECT_FALSE(Exists(dst));
        }
    }
    EXPECT_EQ(YAR_MoveFile(nullptr, "x"), -1);
    EXPECT_EQ(YAR_CopyFile("x", nullptr, 0), -1);
}

TEST_F(FileTest, CopyKeepsWriteTimeAndModeAndMovesAcrossFileSystems) {
    const std::string src = Path("big");
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    Write(src, content);
    chmod(src.c_str(), 0640);
    const timespec old[2] = {{1000000000, 0}, {1200000000, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, src.c_str(), old, 0), 0);

    ASSERT_EQ(YAR_CopyFile(src.c_str(), Path("copy").c_str(), 1), 0);
    EXPECT_EQ(Read(Path("copy")), content);
    struct stat st;
    ASSERT_EQ(stat(Path("copy").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, old[1].tv_sec);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    struct stat tmpSt, shmSt;
    ASSERT_EQ(stat(m_dir.c_str(), &tmpSt), 0);
    if (stat("/dev/shm", &shmSt) != 0 || shmSt.st_dev == tmpSt.st_dev)
        GTEST_SKIP() << "no second file system for a cross-device move";
    const std::string other = "/dev/shm/yar-move-" + std::to_string(getpid());
    ASSERT_EQ(YAR_MoveFile(Path("copy").c_str(), other.c_str()), 0);
    EXPECT_FALSE(Exists(Path("copy")));
    EXPECT_EQ(Read(other), content);
    Write(Path("again"), "x");
    EXPECT_EQ(YAR_MoveFile(Path("again").c_str(), other.c_str()), -1);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_ALREADY_EXISTS);
    EXPECT_EQ(Read(other), content);
    EXPECT_TRUE(Exists(Path("again")));
    unlink(other.c_str());
}

TEST_F(FileTest, ListsAFixtureTreeWithPerEntryInformation) {
    ASSERT_EQ(mkdir(Path("tree").c_str(), 0755), 0);
    Write(Path("tree/file.txt"), "123");
    Write(Path("tree/.hidden"), "");
    chmod(Path("tree/.hidden").c_str(), 0444);
    ASSERT_EQ(mkdir(Path("tree/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("file.txt", Path("tree/link").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("tree/fifo").c_str(), 0644), 0);

    struct Expected { int type; uint64_t size; uint32_t mode; };
    const std::map<std::string, Expected> expected = {
        {".", {256, 0, 0x6000}},   {"..", {256, 0, 0x6000}},       {"file.txt", {512, 3, 0x6000}},
        {".hidden", {512, 0, 0x1000 | 0x8000}}, {"sub", {256, 0, 0x6000}},
        {"link", {64, 8, 0x6000}}, {"fifo", {512, 0, 0x6000}},
    };
    for (const char *path : {"tree", "tree/"}) {
        YAR_DIR_T *dir = YAR_OpenDir(Path(path).c_str());
        ASSERT_NE(dir, nullptr);
        std::map<std::string, YAR_FINFO_T> seen;
        YAR_DIR_ENTRY_T entry;
        while (YAR_ReadDir(dir, &entry) == 0)
            EXPECT_TRUE(seen.emplace(entry.szName, entry.stInfo).second) << entry.szName;
        EXPECT_EQ(YAR_ReadDir(dir, &entry), -1);
        EXPECT_EQ(YAR_CloseDir(dir), 0);
        ASSERT_EQ(seen.size(), expected.size());
        for (const auto &[name, want] : expected) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(seen.count(name));
            const YAR_FINFO_T &got = seen[name];
            EXPECT_EQ(got.iType, want.type);
            EXPECT_EQ(got.u64Size, want.size);
            EXPECT_EQ(got.dwMode, want.mode);
            EXPECT_EQ(got.dwLinks, 0u);
            EXPECT_EQ(got.u64Index, 0u);
            struct stat st;
            ASSERT_EQ(lstat((Path("tree/") + name).c_str(), &st), 0);
            EXPECT_EQ(got.i64WriteTime, Us(st.st_mtim));
        }
    }
}

TEST_F(FileTest, EmptyMissingAndNonDirectoryListings) {
    ASSERT_EQ(YAR_MakeDir(Path("empty").c_str()), 0);
    EXPECT_EQ(YAR_MakeDir(Path("empty").c_str()), -1);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_ALREADY_EXISTS);
    YAR_DIR_T *dir = YAR_OpenDir(Path("empty").c_str());
    ASSERT_NE(dir, nullptr);
    YAR_DIR_ENTRY_T entry;
    std::string names;
    while (YAR_ReadDir(dir, &entry) == 0)
        names += std::string(entry.szName) + ",";
    EXPECT_TRUE(names == ".,..," || names == "..,.,") << names;
    YAR_CloseDir(dir);

    Write(Path("plain"), "x");
    EXPECT_EQ(YAR_OpenDir(Path("missing").c_str()), nullptr);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_FILE_NOT_FOUND);
    EXPECT_EQ(YAR_OpenDir(Path("plain").c_str()), nullptr);
    EXPECT_EQ(YAR_OpenDir(nullptr), nullptr);
    EXPECT_EQ(YAR_ReadDir(nullptr, &entry), -1);
    EXPECT_EQ(YAR_CloseDir(nullptr), -1);

    Write(Path("empty/x"), "");
    EXPECT_EQ(YAR_RemoveDir(Path("empty").c_str()), -1);
    EXPECT_EQ(YAR_DeleteFile(Path("empty/x").c_str()), 0);
    EXPECT_EQ(YAR_DeleteFile(Path("empty/x").c_str()), -1);
    EXPECT_EQ(YAR_GetSystemLastError(), YAR_SYSERR_FILE_NOT_FOUND);
    EXPECT_EQ(YAR_RemoveDir(Path("empty").c_str()), 0);
    EXPECT_EQ(YAR_RemoveDir(nullptr), -1);
    EXPECT_EQ(YAR_DeleteFile(nullptr), -1);
}

TEST_F(FileTest, AccessModes) {
    Write(Path("ro"), "x");
    chmod(Path("ro").c_str(), 0444);
    struct Case { const char *name; int mode; int expected; };
    const bool root = geteuid() == 0;  // root may write a read-only file
    const Case cases[] = {
        {"ro", 0, 0}, {"ro", 4, 0}, {"ro", 2, root ? 0 : -1}, {"ro", 6, root ? 0 : -1},
        {"ro", 1, -1}, {"ro", 5, -1}, {"missing", 0, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(YAR_AccessFile(Path(c.name).c_str(), c.mode), c.expected) << c.name << " " << c.mode;
    EXPECT_EQ(YAR_AccessFile(nullptr, 0), -1);
}

TEST(ModulePaths, ExecutableAndLoadedLibraries) {
    char expected[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", expected, sizeof expected - 1);
    ASSERT_GT(len, 0);
    expected[len] = '\0';
    char buf[PATH_MAX];
    ASSERT_EQ(YAR_GetCurExePath(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, expected);
    EXPECT_EQ(YAR_GetCurExePath(buf, static_cast<int32_t>(len)), -1);  // no room for the terminator
    EXPECT_EQ(YAR_GetCurExePath(buf, static_cast<int32_t>(len + 1)), 0);
    EXPECT_EQ(YAR_GetCurExePath(nullptr, 100), -1);

    // The runtime is linked into this program, so its own module is the executable.
    ASSERT_EQ(YAR_GetModulePath(nullptr, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, expected);

    void *zlib = dlopen("libz.so.1", RTLD_NOW);
    ASSERT_NE(zlib, nullptr);
    ASSERT_EQ(YAR_GetModulePath(dlsym(zlib, "zlibVersion"), buf, sizeof buf), 0);
    char real[PATH_MAX];
    ASSERT_NE(realpath("/usr/lib/x86_64-linux-gnu/libz.so.1", real), nullptr);
    EXPECT_STREQ(buf, real);
    dlclose(zlib);
}
