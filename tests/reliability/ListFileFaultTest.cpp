// The list file cannot be made or written: a missing folder, a read-only
// file, a file held open without sharing, a failing or short write. The
// converter never starts on a failure, the old file is never mixed with the
// new list, and the next command after the fault works again.
#include "Reliability.h"

namespace {

const std::vector<std::string> kSelection = {"C:\\Bilder\\neu1.jpg", "C:\\Bilder\\neu2.png"};

std::string OldContent() {
    std::string old;
    for (int i = 0; i < 2000; ++i) old += "C:\\Alt\\alte_liste_" + std::to_string(i) + ".bmp\r\n";
    return old;
}

// After a failed command: no start; the file is the old one, or empty, or a
// prefix of the new list, never old bytes after new ones.
struct Leftovers {
    int old = 0, empty = 0, partNew = 0;
};

::testing::AssertionResult NoHalfOldFile(const std::string& path, const std::string& old, bool mayBeReplaced,
                                         Leftovers* tally = nullptr) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return ::testing::AssertionFailure() << "list file unreadable";
    if (bytes == old) {
        if (tally) ++tally->old;
        return ::testing::AssertionSuccess();
    }
    if (!mayBeReplaced) return ::testing::AssertionFailure() << "the old file was changed";
    const std::string fresh = ListBytes(kSelection);
    if (bytes.size() <= fresh.size() && fresh.compare(0, bytes.size(), bytes) == 0) {
        if (tally) ++(bytes.empty() ? tally->empty : tally->partNew);
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "list file holds " << bytes.size() << " bytes that are neither the old "
                                         << "file nor part of the new list";
}

TEST(ListFileFaults, CannotCreate) {
    ExtensionHost host("lfcreate");
    ASSERT_TRUE(host.Ready());
    ASSERT_EQ(host.Select(kSelection), S_OK);
    const std::string old = OldContent();
    size_t tried = 0;
    Meter meter;

    {   // The "temp" folder is missing: the list file's folder is not created.
        const std::string missing = host.Scratch() + "missing\\";
        ScopedEnvironment temp("temp", missing.c_str());
        const HRESULT hr = host.Invoke(2);
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
        EXPECT_FALSE(FileExists(missing));
        ++tried;
    }
    std::string readOnly;
    {   // A read-only list file. Wine running as root does not enforce the
        // attribute (the seam below refuses with ERROR_ACCESS_DENIED instead).
        ASSERT_TRUE(WriteWholeFile(host.ListFile(), old));
        ASSERT_TRUE(SetFileAttributesA(host.ListFile().c_str(), FILE_ATTRIBUTE_READONLY));
        const HANDLE probe = CreateFileA(host.ListFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(host.Invoke(2), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
            EXPECT_TRUE(NoHalfOldFile(host.ListFile(), old, false));
            readOnly = "read-only refused";
            ++tried;
        } else {
            CloseHandle(probe);
            readOnly = "read-only not enforced by this platform (seam instead)";
        }
        SetFileAttributesA(host.ListFile().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    {   // A folder where the list file should be.
        DeleteFileA(host.ListFile().c_str());
        ASSERT_TRUE(CreateDirectoryA(host.ListFile().c_str(), nullptr));
        EXPECT_EQ(host.Invoke(2), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(RemoveDirectoryA(host.ListFile().c_str())) << "the folder must be left as it was";
        ++tried;
    }
    {   // Held open by someone else without sharing.
        ASSERT_TRUE(WriteWholeFile(host.ListFile(), old));
        const HANDLE held = CreateFileA(host.ListFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(host.Invoke(2), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
        CloseHandle(held);
        EXPECT_TRUE(NoHalfOldFile(host.ListFile(), old, false));
        ++tried;
    }
    // CreateFileA refused with every code that matters (the seam), 0 included.
    for (DWORD code : std::vector<DWORD>{ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_PATH_NOT_FOUND,
                       ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE, ERROR_NOT_READY, ERROR_WRITE_PROTECT,
                       ERROR_LOCK_VIOLATION, ERROR_NETWORK_ACCESS_DENIED, 0xFFFFu, 0u}) {
        ASSERT_TRUE(WriteWholeFile(host.ListFile(), old));
        Spy::createFileError = code;
        Spy::createFileFails = true;
        const HRESULT hr = host.Invoke(2);
        Spy::createFileFails = false;
        EXPECT_TRUE(FAILED(hr)) << code;
        EXPECT_TRUE(NoHalfOldFile(host.ListFile(), old, false)) << code;
        ++tried;
    }
    EXPECT_EQ(Spy::calls.shellExecute, 0) << "the converter started after a failure";

    // Afterwards the same command works again.
    EXPECT_EQ(host.Invoke(2), S_OK);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(host.ListFile(), bytes));
    EXPECT_EQ(bytes, ListBytes(kSelection));
    EXPECT_EQ(Spy::calls.shellExecute, 1);
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"list file cannot be created", tried,
               "missing folder, folder in the way, held open, 12 refused opens (" + readOnly +
                   "): all failed, converter starts 0, old file unchanged; next command ran",
               meter.Text()});
}

TEST(ListFileFaults, FailingOrShortWrite) {
    ExtensionHost host("lfwrite");
    ASSERT_TRUE(host.Ready());
    ASSERT_EQ(host.Select(kSelection), S_OK);
    const std::string old = OldContent();
    size_t tried = 0;
    // One failure first: the module's runtime sets up what its first error
    // needs (once per load), which is not a handle per failure.
    Spy::writeFault = Spy::WriteFault::FailNothingWritten;
    EXPECT_TRUE(FAILED(host.Invoke(2)));
    Spy::writeFault = Spy::WriteFault::None;
    Leftovers left;
    Meter meter;
    const std::pair<Spy::WriteFault, const char*> faults[] = {
        {Spy::WriteFault::FailNothingWritten, "fails, nothing written"},
        {Spy::WriteFault::ShortWrite, "writes half, reports half"},
        {Spy::WriteFault::ReportShort, "writes all, reports one byte less"},
        {Spy::WriteFault::FailAfterWriting, "writes all, then fails"}};
    for (const auto& [fault, name] : faults) {
        for (DWORD code : std::vector<DWORD>{ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_WRITE_FAULT, ERROR_NOT_READY, 0u}) {
            ASSERT_TRUE(WriteWholeFile(host.ListFile(), old));
            const long opens = Spy::calls.createFile, closes = Spy::calls.closeHandle;
            const ProcessUse before = ProcessUse::Now();
            Spy::writeFault = fault;
            Spy::writeFaultError = code;
            const HRESULT hr = host.Invoke(2);
            Spy::writeFault = Spy::WriteFault::None;
            EXPECT_TRUE(FAILED(hr)) << name << ", code " << code;
            EXPECT_EQ(Spy::calls.createFile - opens, 1);
            EXPECT_GE(Spy::calls.closeHandle - closes, 1) << name << ": the list file was not closed";
            EXPECT_LE(ProcessUse::Now().handles, before.handles) << name << ": a handle stayed open";
            EXPECT_TRUE(NoHalfOldFile(host.ListFile(), old, true, &left)) << name;
            // The file is free again: another program can open it exclusively.
            const HANDLE probe = CreateFileA(host.ListFile().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
            EXPECT_NE(probe, INVALID_HANDLE_VALUE) << name << ": still held";
            if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
            ++tried;
        }
    }
    EXPECT_EQ(Spy::calls.shellExecute, 0) << "the converter started after a failed write";
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), 0) << "handles left open by failed writes";
    EXPECT_EQ(host.Invoke(2), S_OK);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(host.ListFile(), bytes));
    EXPECT_EQ(bytes, ListBytes(kSelection));
    EXPECT_EQ(Spy::calls.shellExecute, 1);
    AddFigure({"list file write fails or is short (seam)", tried,
               "4 kinds x 5 codes: all failed, file closed, converter starts 0; left behind: " +
                   std::to_string(left.empty) + " empty, " + std::to_string(left.partNew) +
                   " part or all of the new list, " + std::to_string(left.old) +
                   " old; never old bytes after new ones; next command ran",
               meter.Text()});
}

}  // namespace
