#include <gtest/gtest.h>

#include "fake/fake_machine.h"
#include "package/packed_tools.h"
#include "package_test_support.h"
#include "platform/constants.h"

using namespace testpkg;

namespace {

class PackageReader : public ::testing::Test {
protected:
    // Writes the installer file at the program's own path and loads it.
    int LoadSelf(const Bytes& file) {
        machine.files.PutFile(machine.kernel.modulePath, file);
        return tools.LoadFromSelf();
    }
    int LoadPackage(const Bytes& package) { return LoadSelf(Concat(FakeImage(), package)); }
    int LoadEntries(const std::vector<package::PackEntry>& entries, int key = -1) {
        return LoadPackage(package::BuildPackage(entries, key));
    }

    Bytes Lookup(const char* name) {
        const std::uint8_t* content = nullptr;
        std::uint32_t size = 0;
        if (tools.FindFile(name, &content, &size) != 1) return {};
        return Bytes(content, content + size);
    }

    void ExpectDamagedAndEmpty(int result) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(tools.GetStatus(), PACK_E_DAMAGED);
        EXPECT_EQ(tools.GetFileCount(), 0u);
        EXPECT_EQ(machine.files.OpenHandleCount(), 0u);
    }

    fake::CFakeMachine machine;
    CPackedTools tools;
};

// ---- round trips through the packing step -------------------------------------------

TEST_F(PackageReader, EmptyPackageLoadsWithAnEmptyTable) {
    EXPECT_EQ(LoadEntries({}), 1);
    EXPECT_EQ(tools.GetStatus(), PACK_OK);
    EXPECT_EQ(tools.GetFileCount(), 0u);
    EXPECT_EQ(tools.FindFile("anything", nullptr, nullptr), 0);
}

TEST_F(PackageReader, EntriesOfEverySizeComeBackWhole) {
    // Sizes around the 16 KiB inflate chunk: below, several chunks, exact multiples.
    const std::vector<std::size_t> sizes = {1, 100, 16383, 16384, 16385, 32768, 40000, 65536, 200001};
    std::vector<package::PackEntry> entries;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        entries.push_back({"file" + std::to_string(i) + ".bin", MakeContent(sizes[i], static_cast<unsigned>(i))});
    }
    ASSERT_EQ(LoadEntries(entries), 1);
    EXPECT_EQ(tools.GetFileCount(), sizes.size());
    for (const auto& entry : entries) EXPECT_EQ(Lookup(entry.name.c_str()), entry.content) << entry.name;
    EXPECT_EQ(machine.files.OpenHandleCount(), 0u);
}

TEST_F(PackageReader, TwentyEntriesInAnyOrderAreFoundByName) {
    std::vector<package::PackEntry> entries;
    for (int i = 19; i >= 0; --i) {
        entries.push_back({"entry_" + std::to_string(i) + (i % 2 ? ".sys" : ".exe"),
                           MakeContent(static_cast<std::size_t>(1000 + i * 997), static_cast<unsigned>(i))});
    }
    ASSERT_EQ(LoadEntries(entries), 1);
    EXPECT_EQ(tools.GetFileCount(), 20u);
    for (const auto& entry : entries) EXPECT_EQ(Lookup(entry.name.c_str()), entry.content) << entry.name;
}

TEST_F(PackageReader, LookupIsExactAndCaseSensitive) {
    ASSERT_EQ(LoadEntries({{"Readme.txt", ToBytes("upper")}, {"readme.txt", ToBytes("lower")}}), 1);
    EXPECT_EQ(Lookup("Readme.txt"), ToBytes("upper"));
    EXPECT_EQ(Lookup("readme.txt"), ToBytes("lower"));
    const std::uint8_t* content = reinterpret_cast<const std::uint8_t*>(1);
    std::uint32_t size = 77;
    EXPECT_EQ(tools.FindFile("README.TXT", &content, &size), 0);
    EXPECT_EQ(tools.FindFile("Readme", &content, &size), 0);
    EXPECT_EQ(tools.FindFile("Readme.txt ", &content, &size), 0);
    // A miss leaves the outputs alone.
    EXPECT_EQ(content, reinterpret_cast<const std::uint8_t*>(1));
    EXPECT_EQ(size, 77u);
}

TEST_F(PackageReader, ClearEmptiesTheTable) {
    ASSERT_EQ(LoadEntries({{"a", ToBytes("1")}, {"b", ToBytes("2")}}), 1);
    tools.Clear();
    EXPECT_EQ(tools.GetFileCount(), 0u);
    EXPECT_EQ(tools.FindFile("a", nullptr, nullptr), 0);
}

// ---- locating the header ------------------------------------------------------------

TEST_F(PackageReader, PlainTextMagicBeforeThePackageIsPassedOver) {
    // The reader's own constant sits in the image, followed by its terminator and data.
    Bytes image = FakeImage();
    const std::string text = std::string(package::PACKAGE_MAGIC) + std::string(40, '\0') + "more data";
    image.insert(image.begin() + 100, text.begin(), text.end());
    ASSERT_EQ(LoadSelf(Concat(image, package::BuildPackage({{"x.txt", ToBytes("found")}}))), 1);
    EXPECT_EQ(Lookup("x.txt"), ToBytes("found"));
}

TEST_F(PackageReader, MagicRightAfterAPartialMatchIsFound) {
    const Bytes package = package::BuildPackage({{"x.txt", ToBytes("found")}});
    for (const std::string prefix : {"V", "VV", "Velo", "Velotrinex LLC installer syste"}) {
        const Bytes buffer = Concat(ToBytes(prefix), package);
        EXPECT_EQ(package::FindPackageHeader(buffer.data(), buffer.size()), buffer.data() + prefix.size())
            << "after \"" << prefix << "\"";
    }
    machine.files.PutFile(machine.kernel.modulePath, Concat(ToBytes("VVelotrinex"), package));
    EXPECT_EQ(tools.LoadFromSelf(), 1);
}

TEST_F(PackageReader, FindPackageHeaderNeedsTheWholeCheckBlockInside) {
    const Bytes package = package::BuildPackage({});
    EXPECT_NE(package::FindPackageHeader(package.data(), 64), nullptr);
    EXPECT_EQ(package::FindPackageHeader(package.data(), 63), nullptr);
    EXPECT_EQ(package::FindPackageHeader(nullptr, 0), nullptr);
}

TEST_F(PackageReader, CheckBlockWithNonZeroLastByteNeverMatches) {
    for (int key : {0, 1, 0x5A, 0xFF}) {
        Bytes package = package::BuildPackage({{"x", ToBytes("x")}}, key);
        package[63] = 1;
        EXPECT_EQ(package::FindPackageHeader(package.data(), package.size()), nullptr) << "key " << key;
    }
    Bytes package = package::BuildPackage({{"x", ToBytes("x")}});
    package[63] ^= 0x80;
    ExpectDamagedAndEmpty(LoadPackage(package));
}

TEST_F(PackageReader, AnyKeyWithAConsistentCheckBlockLoads) {
    for (int key : {0, 0x01, 0x80, 0xFF}) {
        CPackedTools reader;
        machine.files.PutFile(machine.kernel.modulePath,
                              Concat(FakeImage(), package::BuildPackage({{"k.bin", ToBytes("key")}}, key)));
        EXPECT_EQ(reader.LoadFromSelf(), 1) << "key " << key;
    }
    // Re-keying a built package by hand: key and whole check block together.
    Bytes package = package::BuildPackage({{"k.bin", ToBytes("key")}}, 0x11);
    package[package::PACKAGE_KEY_OFFSET] = 0xC3;
    for (std::size_t k = 0; k < package::PACKAGE_CHECK_SIZE; ++k) package[32 + k] = package[k] ^ 0xC3;
    EXPECT_EQ(LoadPackage(package), 1);
}

TEST_F(PackageReader, FileWithoutAPackageIsDamaged) {
    ExpectDamagedAndEmpty(LoadSelf(FakeImage()));
    ExpectDamagedAndEmpty(LoadSelf({}));  // an empty file
    Bytes corruptMagic = package::BuildPackage({{"x", ToBytes("x")}});
    corruptMagic[5] ^= 1;
    ExpectDamagedAndEmpty(LoadPackage(corruptMagic));
}

// ---- verification -------------------------------------------------------------------

TEST_F(PackageReader, OneFlippedByteInAnEntryFailsThePackageDigest) {
    const Bytes good = package::BuildPackage({{"a.exe", MakeContent(5000, 1)}, {"b.sys", MakeContent(7000, 2)}});
    for (std::size_t at : {package::PACKAGE_HEADER_SIZE, package::PACKAGE_HEADER_SIZE + 30, good.size() - 1}) {
        Bytes bad = good;
        bad[at] ^= 0x01;
        ExpectDamagedAndEmpty(LoadPackage(bad));
    }
}

TEST_F(PackageReader, FailedLoadReleasesWhatAnEarlierLoadHeld) {
    ASSERT_EQ(LoadEntries({{"a", ToBytes("first")}}), 1);
    ExpectDamagedAndEmpty(LoadSelf(FakeImage()));
}

TEST_F(PackageReader, ContentDigestMismatchUnderAGoodPackageDigestEmptiesTheTable) {
    RawEntry first = Raw("first.txt", ToBytes("read before the bad one"));
    RawEntry second = Raw("second.txt", ToBytes("real content"));
    second.content = ToBytes("what the packer thought");  // digest of other bytes
    ExpectDamagedAndEmpty(LoadPackage(Assemble({first, second})));
}

TEST_F(PackageReader, EntryThatInflatesToNothingIsDamage) {
    ExpectDamagedAndEmpty(LoadPackage(Assemble({Raw("empty.txt", {})})));
}

TEST_F(PackageReader, TruncatedAndInvalidStreamsAreDamage) {
    RawEntry truncated = Raw("t.bin", MakeContent(50000, 3));
    truncated.packed.resize(truncated.packed.size() / 2);
    ExpectDamagedAndEmpty(LoadPackage(Assemble({truncated})));

    RawEntry garbage = Raw("g.bin", ToBytes("content"));
    garbage.packed = ToBytes("this is not a zlib stream");
    ExpectDamagedAndEmpty(LoadPackage(Assemble({garbage})));

    RawEntry noBytes = Raw("n.bin", ToBytes("content"));
    noBytes.packed.clear();
    ExpectDamagedAndEmpty(LoadPackage(Assemble({noBytes})));
}

TEST_F(PackageReader, AnyZlibStreamIsAcceptedNotOnlyTheHighestLevel) {
    RawEntry fast = Raw("fast.bin", MakeContent(30000, 4));
    fast.packed = Compress(fast.content, 1);
    RawEntry stored = Raw("stored.bin", MakeContent(3000, 5));
    stored.packed = Compress(stored.content, 0);
    ASSERT_EQ(LoadPackage(Assemble({fast, stored})), 1);
    EXPECT_EQ(Lookup("fast.bin"), fast.content);
    EXPECT_EQ(Lookup("stored.bin"), stored.content);
}

TEST_F(PackageReader, BytesAfterTheEntryRegionAreIgnored) {
    Bytes file = Concat(FakeImage(), package::BuildPackage({{"x.dll", MakeContent(3000, 6)}}));
    file.resize(file.size() + 5, 0);  // padding to a multiple of 8
    file = Concat(file, MakeContent(1500, 7));  // a signature, say
    ASSERT_EQ(LoadSelf(file), 1);
    EXPECT_EQ(Lookup("x.dll"), MakeContent(3000, 6));
}

TEST_F(PackageReader, EmptyNameAndRepeatedNamesFollowTheTable) {
    RawEntry unnamed = Raw("", ToBytes("no name"));
    RawEntry first = Raw("twice", ToBytes("earlier"));
    RawEntry later = Raw("twice", ToBytes("later"));
    ASSERT_EQ(LoadPackage(Assemble({unnamed, first, later})), 1);
    EXPECT_EQ(tools.GetFileCount(), 2u);
    EXPECT_EQ(Lookup(""), ToBytes("no name"));
    EXPECT_EQ(Lookup("twice"), ToBytes("later"));
}

// ---- size fields that lie -----------------------------------------------------------

TEST_F(PackageReader, DataLengthBeyondTheFileIsDamage) {
    const Bytes region = EntryRegion({Raw("a", ToBytes("abc"))});
    for (std::uint32_t claimed : {static_cast<std::uint32_t>(region.size() + 1), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes package = Header(region, 1, 0x33, claimed, region.size());
        package = Concat(package, region);
        ExpectDamagedAndEmpty(LoadPackage(package));
    }
}

TEST_F(PackageReader, EntryCountBeyondTheEntriesIsDamage) {
    const Bytes region = EntryRegion({Raw("a", ToBytes("abc")), Raw("b", ToBytes("def"))});
    for (std::uint32_t count : {3u, 1000u, 0xFFFFFFFFu}) {
        Bytes package = Concat(Header(region, count, 0x33, static_cast<std::uint32_t>(region.size()), region.size()),
                               region);
        ExpectDamagedAndEmpty(LoadPackage(package));
    }
}

TEST_F(PackageReader, NameOrPackedSizeBeyondTheRegionIsDamage) {
    const std::vector<std::uint32_t> lies = {100000u, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFEu};
    for (std::uint32_t lie : lies) {
        RawEntry name = Raw("n.txt", ToBytes("name lies"));
        name.nameLengthField = lie;
        ExpectDamagedAndEmpty(LoadPackage(Assemble({name})));

        RawEntry packed = Raw("p.txt", ToBytes("packed size lies"));
        packed.packedSizeField = lie;
        ExpectDamagedAndEmpty(LoadPackage(Assemble({packed})));
    }
    // Each field alone fits, together they run past the end.
    RawEntry both = Raw("both.txt", ToBytes("sum lies"));
    both.nameLengthField = static_cast<std::uint32_t>(both.name.size() + both.packed.size());
    both.packedSizeField = static_cast<std::uint32_t>(both.packed.size());
    ExpectDamagedAndEmpty(LoadPackage(Assemble({both})));
}

TEST_F(PackageReader, RegionTooShortForAnEntryHeaderIsDamage) {
    const Bytes region = ToBytes("short");  // fewer than 24 bytes for the one entry
    ExpectDamagedAndEmpty(LoadPackage(Concat(Header(region, 1, 0, 5, 5), region)));
}

// ---- reading the program's own file -------------------------------------------------

TEST_F(PackageReader, OwnFileThatCannotBeOpenedIsAReadError) {
    // No file at the program's path.
    EXPECT_EQ(tools.LoadFromSelf(), 0);
    EXPECT_EQ(tools.GetStatus(), PACK_E_READ);

    machine.files.PutFile(machine.kernel.modulePath, Concat(FakeImage(), package::BuildPackage({})));
    machine.Faults().FailCall("GetModuleFileNameA", 1, os::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(tools.LoadFromSelf(), 0);
    EXPECT_EQ(tools.GetStatus(), PACK_E_READ);

    // Locked by another process without read sharing.
    machine.files.Lock(machine.kernel.modulePath, os::GENERIC_READ | os::GENERIC_WRITE, 0);
    EXPECT_EQ(tools.LoadFromSelf(), 0);
    EXPECT_EQ(tools.GetStatus(), PACK_E_READ);
    EXPECT_EQ(machine.files.OpenHandleCount(), 0u);
}

TEST_F(PackageReader, OwnFileIsOpenedWithReadAndWriteSharing) {
    machine.files.PutFile(machine.kernel.modulePath, Concat(FakeImage(), package::BuildPackage({{"a", ToBytes("a")}})));
    // Another process has the installer open for writing and allows others to read and write.
    machine.files.Lock(machine.kernel.modulePath, os::GENERIC_READ | os::GENERIC_WRITE,
                       os::FILE_SHARE_READ | os::FILE_SHARE_WRITE);
    EXPECT_EQ(tools.LoadFromSelf(), 1);
}

TEST_F(PackageReader, FailedOrShortReadsAreReadErrors) {
    const Bytes file = Concat(FakeImage(), package::BuildPackage({{"a", ToBytes("a")}}));
    for (const char* call : {"ReadFile", "GetFileSize", "SetFilePointer"}) {
        machine.Faults().Clear();
        machine.Faults().FailCall(call, 1, os::ERROR_READ_FAULT);
        EXPECT_EQ(LoadSelf(file), 0) << call;
        EXPECT_EQ(tools.GetStatus(), PACK_E_READ) << call;
        EXPECT_EQ(machine.files.OpenHandleCount(), 0u) << call;
    }
}

TEST_F(PackageReader, TruncatedPathOfTheOwnProgramIsNotOpened) {
    // A path that does not fit the 260-byte buffer would name some other file.
    machine.kernel.modulePath = "C:\\" + std::string(300, 'd') + "\\setup.exe";
    machine.files.PutFile(machine.kernel.modulePath.substr(0, 259), Concat(FakeImage(), package::BuildPackage({})));
    EXPECT_EQ(tools.LoadFromSelf(), 0);
    EXPECT_EQ(tools.GetStatus(), PACK_E_READ);
}

// ---- InflateEntry on its own --------------------------------------------------------

TEST(InflateEntry, ReturnsZlibCodesAndAllOrNothing) {
    CPackedTools tools;
    const Bytes content = MakeContent(3 * CPackedTools::CHUNK_SIZE, 8);
    const Bytes packed = Compress(content);
    std::string out = "stale";
    EXPECT_EQ(tools.InflateEntry(out, packed.data(), static_cast<std::uint32_t>(packed.size())), Z_OK);
    EXPECT_EQ(out, std::string(content.begin(), content.end()));

    out = "stale";
    EXPECT_NE(tools.InflateEntry(out, packed.data(), static_cast<std::uint32_t>(packed.size() - 10)), Z_OK);
    EXPECT_TRUE(out.empty());

    const Bytes garbage = ToBytes("not zlib at all");
    out = "stale";
    EXPECT_NE(tools.InflateEntry(out, garbage.data(), static_cast<std::uint32_t>(garbage.size())), Z_OK);
    EXPECT_TRUE(out.empty());
}

}  // namespace
