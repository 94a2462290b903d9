#include "image_file.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "base/sha256.h"
#include "imaging.h"

namespace vorlane {
namespace {

std::string Flip(std::string bytes, size_t at) {
    if (at < bytes.size()) bytes[at] = static_cast<char>(bytes[at] ^ 1);
    return bytes;
}

class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vorlane-image-XXXXXX";
        dir_ = mkdtemp(pattern);
        path_ = dir_ + "/BAKSYS.GHO";
    }
    void TearDown() override {
        for (const std::string& name : Names()) unlink((dir_ + "/" + name).c_str());
        rmdir(dir_.c_str());
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d)) {
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // A stream of compressible text and random bytes, longer than two blocks.
    static std::string Stream(size_t size) {
        std::mt19937 rng(7);
        std::string data;
        while (data.size() < size) {
            if (data.size() % 3 == 0) data += "partition data that compresses ";
            else data += static_cast<char>(rng());
        }
        data.resize(size);
        return data;
    }
    bool Write(const std::string& stream, int level, ImageInfo& result, uint32_t version = 0, uint64_t volumeBytes = 0) {
        ImageInfo info;
        info.version = version;
        info.volumeBytes = volumeBytes;
        info.partitionBytes = 1 << 30;
        info.usedBytes = stream.size();
        info.level = static_cast<uint32_t>(level);
        info.streamKind = "partclone";
        info.fileSystem = "ntfs";
        ImageWriter writer;
        std::string error;
        if (!writer.Create(path_, info, error)) return false;
        // Uneven pieces, as a pipe delivers them.
        for (size_t at = 0; at < stream.size();) {
            size_t piece = std::min<size_t>(stream.size() - at, 65536 + at % 1000);
            if (!writer.Write(stream.data() + at, piece, error)) return false;
            at += piece;
        }
        return writer.Finish(result, error);
    }
    std::string ReadBack(std::string& error) {
        std::string out;
        auto sink = [&](const unsigned char* data, size_t size) {
            out.append(reinterpret_cast<const char*>(data), size);
            return true;
        };
        if (!ReadImageStream(path_, sink, nullptr, error)) return "<failed>";
        return out;
    }
    std::string FileBytes() {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Store(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::string dir_, path_;
};

TEST_F(ImageFileTest, RoundTripAtEveryKindOfLevelInBothVersions) {
    struct Case {
        uint32_t version;
        uint32_t blockSize;
    } cases[] = {{2, kImageBlockSize}, {1, kImageBlockSizeV1}};
    for (const Case& c : cases) {
        std::string stream = Stream(2 * c.blockSize + 12345);
        for (int level : {0, 1, 3, 9}) {
            ImageInfo written;
            ASSERT_TRUE(Write(stream, level, written, c.version)) << level;
            EXPECT_EQ(written.streamBytes, stream.size());
            EXPECT_EQ(written.blockCount, 3u);
            EXPECT_EQ(written.version, c.version);
            EXPECT_EQ(written.fileBytes, FileBytes().size());
            ImageInfo checked;
            std::string error;
            ASSERT_TRUE(VerifyImage(path_, checked, nullptr, error)) << error;
            EXPECT_EQ(checked.sha256, written.sha256);
            EXPECT_EQ(checked.version, c.version);
            EXPECT_EQ(checked.blockSize, c.blockSize);
            EXPECT_EQ(checked.fileSystem, "ntfs");
            EXPECT_EQ(checked.partitionBytes, 1u << 30);
            EXPECT_EQ(ReadBack(error), stream) << "version " << c.version << " level " << level;
            if (level > 0) {
                EXPECT_LT(FileBytes().size(), stream.size());
            }
        }
    }
}

// Blocks as the layout describes them: where each one's header and stored bytes lie in the file.
struct BlockAt {
    size_t header;
    size_t stored;
    uint32_t method;
    uint32_t storedSize;
};

uint32_t Le32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
void SetLe32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
std::vector<BlockAt> Blocks(const std::string& file) {
    std::vector<BlockAt> blocks;
    for (size_t at = kImageHeaderSize; at + kImageBlockHeaderSize <= file.size() - kImageTrailerSize;) {
        BlockAt block{at, at + kImageBlockHeaderSize, Le32(file, at + 4), Le32(file, at + 8)};
        blocks.push_back(block);
        at = block.stored + block.storedSize;
    }
    return blocks;
}
uint32_t Crc32(const std::string& b, size_t at, size_t size) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(b.data() + at),
                                       static_cast<uInt>(size)));
}

TEST_F(ImageFileTest, DamageThatKeepsEveryBlockConsistentIsRefusedByTheSha256) {
    // Incompressible data: the blocks are stored as they are, so a changed byte can be given fresh CRCs.
    std::mt19937 rng(11);
    std::string stream(2 * kImageBlockSize + 4096, '\0');
    for (char& c : stream) c = static_cast<char>(rng());
    ImageInfo written;
    ASSERT_TRUE(Write(stream, 3, written));
    const std::string good = FileBytes();
    std::vector<BlockAt> blocks = Blocks(good);
    ASSERT_EQ(blocks.size(), 3u);
    ASSERT_EQ(blocks[1].method, 0u);
    struct Case {
        const char* what;
        std::function<std::string(std::string)> damage;
    } cases[] = {
        {"a byte of a stored block changed, both of its CRCs recomputed",
         [&](std::string b) {
             const BlockAt& block = blocks[1];
             b[block.stored + 1000] = static_cast<char>(b[block.stored + 1000] ^ 0x20);
             uint32_t crc = Crc32(b, block.stored, block.storedSize);
             SetLe32(b, block.header + 16, crc);
             SetLe32(b, block.header + 20, crc);
             return b;
         }},
        {"the two full blocks swapped",
         [&](std::string b) {
             std::string first = b.substr(blocks[0].header, blocks[1].header - blocks[0].header);
             std::string second = b.substr(blocks[1].header, blocks[2].header - blocks[1].header);
             return b.substr(0, blocks[0].header) + second + first + b.substr(blocks[2].header);
         }},
    };
    for (const Case& c : cases) {
        Store(c.damage(good));
        ImageInfo info;
        std::string error;
        EXPECT_FALSE(VerifyImage(path_, info, nullptr, error)) << c.what;
        EXPECT_NE(error.find("SHA-256"), std::string::npos) << c.what << ": " << error;
    }
}

TEST_F(ImageFileTest, TheTrailerHoldsTheSha256OfAllBlocks) {
    std::string stream = Stream(100000);
    ImageInfo written;
    ASSERT_TRUE(Write(stream, 3, written));
    std::string bytes = FileBytes();
    std::string blocks = bytes.substr(kImageHeaderSize, bytes.size() - kImageHeaderSize - kImageTrailerSize);
    Sha256 sha;
    sha.Update(blocks.data(), blocks.size());
    uint8_t digest[32];
    sha.Final(digest);
    EXPECT_EQ(Sha256::Hex(digest), written.sha256);
    EXPECT_EQ(bytes.substr(0, 8), "VRLNIMG1");
    EXPECT_EQ(bytes.substr(bytes.size() - kImageTrailerSize, 8), "VRLNEND1");
}

TEST_F(ImageFileTest, EveryKindOfDamageIsFoundBeforeAnythingIsWritten) {
    std::string stream = Stream(2 * kImageBlockSize + 999);
    ImageInfo written;
    ASSERT_TRUE(Write(stream, 1, written));
    const std::string good = FileBytes();
    struct Case {
        const char* what;
        std::function<std::string(std::string)> damage;
        const char* expected;
    } cases[] = {
        {"flipped byte in a block", [](std::string b) { return Flip(b, b.size() / 2); }, "damaged"},
        {"flipped byte in the header", [](std::string b) { return Flip(b, 40); }, "header"},
        {"cut short", [](std::string b) { return b.substr(0, b.size() - 5000); }, ""},
        {"no trailer", [](std::string b) { return b.substr(0, b.size() - kImageTrailerSize); }, ""},
        {"extra bytes", [](std::string b) { return b + "junk"; }, ""},
        {"not an image", [](std::string b) { b.replace(0, 8, "GHOSTIMG"); return b; }, "not an image"},
        {"empty", [](std::string) { return std::string(); }, "too short"},
        {"trailer hash", [](std::string b) { return Flip(b, b.size() - 20); }, ""},
    };
    for (const Case& c : cases) {
        Store(c.damage(good));
        ImageInfo info;
        std::string error;
        EXPECT_FALSE(VerifyImage(path_, info, nullptr, error)) << c.what;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.what << ": " << error;
    }
    Store(good);
    ImageInfo info;
    std::string error;
    EXPECT_TRUE(VerifyImage(path_, info, nullptr, error)) << error;
}

TEST_F(ImageFileTest, AnUnfinishedImageIsRefusedAndAnAbandonedOneRemoved) {
    std::string stream = Stream(3 * kImageBlockSize);
    ImageInfo written;
    ASSERT_TRUE(Write(stream, 0, written));
    // Everything but the end record: what a stopped dump leaves.
    Store(FileBytes().substr(0, written.fileBytes - kImageTrailerSize));
    ImageInfo header;
    std::string error;
    EXPECT_FALSE(ReadImageHeader(path_, header, error));
    EXPECT_NE(error.find("incomplete"), std::string::npos) << error;
    EXPECT_FALSE(VerifyImage(path_, header, nullptr, error));
    EXPECT_NE(error.find("incomplete"), std::string::npos) << error;

    ImageInfo info;
    info.fileSystem = "ntfs";
    info.streamKind = "partclone";
    info.level = 1;
    ImageWriter writer;
    ASSERT_TRUE(writer.Create(path_, info, error));
    ASSERT_TRUE(writer.Write(stream.data(), stream.size(), error));
    writer.Abandon();
    EXPECT_NE(access(path_.c_str(), F_OK), 0);
}

TEST_F(ImageFileTest, HeadersOfUnknownVersionsOrLayoutsAreRefused) {
    ImageInfo written;
    ASSERT_TRUE(Write(Stream(100000), 1, written));
    const std::string good = FileBytes();
    struct Case {
        const char* what;
        size_t field;
        uint32_t value;
    } cases[] = {
        {"version 3", 8, 3},
        {"version 0", 8, 0},
        {"block size not a power of two", 16, 3u << 20},
        {"block size too large", 16, 32u << 20},
        {"deflate in version 2", 20, 1},
        {"unknown compression", 20, 7},
    };
    for (const Case& c : cases) {
        std::string b = good;
        SetLe32(b, c.field, c.value);
        SetLe32(b, 508, Crc32(b, 0, 508));
        Store(b);
        ImageInfo info;
        std::string error;
        EXPECT_FALSE(ReadImageHeader(path_, info, error)) << c.what;
        EXPECT_NE(error.find("unknown version"), std::string::npos) << c.what << ": " << error;
        EXPECT_FALSE(VerifyImage(path_, info, nullptr, error)) << c.what;
    }
}

// Hands out a file's bytes in small uneven pieces, as a pipe from a helper program does.
class TrickleSource : public ImageSource {
public:
    explicit TrickleSource(std::string bytes, std::string failure = "")
        : bytes_(std::move(bytes)), failure_(std::move(failure)) {}
    bool Open(std::string&) override {
        at_ = 0;
        ++opened_;
        return true;
    }
    ssize_t Read(void* data, size_t size) override {
        size_t end = failure_.empty() ? bytes_.size() : bytes_.size() / 2;
        size_t n = std::min({size, end - at_, static_cast<size_t>(1 + (at_ * 7919) % 70000)});
        std::memcpy(data, bytes_.data() + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }
    // A source with a failure stops part way, as a helper that meets a read error does.
    bool Close(bool complete, std::string& error) override {
        lastComplete_ = complete;
        if (complete && !failure_.empty()) error = failure_;
        return failure_.empty();
    }
    uint64_t Size() const override { return 0; }
    int opened_ = 0;
    bool lastComplete_ = false;

private:
    std::string bytes_;
    std::string failure_;
    size_t at_ = 0;
};

TEST_F(ImageFileTest, ImagesAreReadFrontToBackFromAnySource) {
    std::string stream = Stream(2 * kImageBlockSize + 777);
    ImageInfo written;
    ASSERT_TRUE(Write(stream, 3, written));
    TrickleSource source(FileBytes());
    ImageInfo header, checked;
    std::string error;
    ASSERT_TRUE(ReadImageHeader(source, header, error)) << error;
    EXPECT_EQ(header.fileSystem, "ntfs");
    ASSERT_TRUE(VerifyImage(source, checked, nullptr, error)) << error;
    EXPECT_EQ(checked.sha256, written.sha256);
    EXPECT_TRUE(source.lastComplete_);
    std::string out;
    uint64_t lastProgress = 0;
    ASSERT_TRUE(ReadImageStream(source, [&](const unsigned char* data, size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
    }, [&](uint64_t done) { lastProgress = done; }, error)) << error;
    EXPECT_EQ(out, stream);
    EXPECT_EQ(lastProgress, written.fileBytes - kImageTrailerSize);
    EXPECT_EQ(source.opened_, 3);
    // A sink that gives up stops the read part way.
    int calls = 0;
    EXPECT_FALSE(ReadImageStream(source, [&](const unsigned char*, size_t) { return ++calls < 2; }, nullptr, error));
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(source.lastComplete_);
}

TEST_F(ImageFileTest, ASourceThatFailsPartWayGivesItsOwnReason) {
    ImageInfo written;
    ASSERT_TRUE(Write(Stream(2 * kImageBlockSize), 1, written));
    TrickleSource source(FileBytes(), "vorlane-ntfsread: reading the file failed: Input/output error");
    ImageInfo info;
    std::string error;
    EXPECT_FALSE(VerifyImage(source, info, nullptr, error));
    EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
    TrickleSource empty("", "vorlane-ntfsread: the file is missing: No such file or directory");
    EXPECT_FALSE(ReadImageHeader(empty, info, error));
    EXPECT_NE(error.find("the file is missing"), std::string::npos) << error;
}

TEST_F(ImageFileTest, TheWriterTakesAPipeAndReportsAReaderThatWentAway) {
    std::string stream = Stream(kImageBlockSize + 5000);
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    std::thread feeder([&] {
        for (size_t at = 0; at < stream.size();) {
            ssize_t n = write(in[1], stream.data() + at, std::min<size_t>(stream.size() - at, 30000));
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        close(in[1]);
    });
    ImageInfo info;
    info.fileSystem = "fat";
    info.streamKind = "partclone";
    info.level = 1;
    ImageWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Create(path_, info, error));
    uint64_t bytes = 0;
    ASSERT_TRUE(writer.WriteFrom(in[0], bytes, nullptr, error)) << error;
    feeder.join();
    close(in[0]);
    EXPECT_EQ(bytes, stream.size());
    ImageInfo written;
    ASSERT_TRUE(writer.Finish(written, error)) << error;
    EXPECT_EQ(ReadBack(error), stream);

    // Output into a pipe whose reader goes away part way: a call fails in the end, none hangs.
    signal(SIGPIPE, SIG_IGN);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::thread reader([&] {
        std::vector<char> some(100000);
        for (size_t got = 0; got < some.size();) {
            ssize_t n = read(out[0], some.data() + got, some.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        close(out[0]);
    });
    ImageWriter broken;
    std::string big = Stream(6 * kImageBlockSize);
    ImageInfo none;
    bool ok = broken.Attach(out[1], info, error) && broken.Write(big.data(), big.size(), error) &&
              broken.Finish(none, error);
    reader.join();
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;
}

TEST(ImageVolumes, FatSplitsBelowFourGiBAndGhostsSplitSwitchAsksForLess) {
    struct Case {
        const char* fileSystem;
        uint64_t split;
        uint64_t volume;
    } cases[] = {
        {"ntfs", 0, 0},
        {"fat", 0, kFatVolumeBytes},
        {"fat", 16ull << 20, 16ull << 20},
        {"fat", 8ull << 30, kFatVolumeBytes},
        {"ntfs", 700ull << 20, 700ull << 20},
        {"ntfs", 8ull << 30, kLargestVolume},
        {"ntfs", 1000, kSmallestVolume},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImageVolumeBytes(c.fileSystem, c.split), c.volume) << c.fileSystem << " " << c.split;
        EXPECT_LT(ImageVolumeBytes(c.fileSystem, c.split), 4ull << 30);
    }
}

TEST(ImageVolumes, NamesKeepTheFirstAndNumberTheOthers) {
    struct Case {
        const char* first;
        unsigned index;
        const char* name;
    } cases[] = {
        {"/m/VRLN/BackSystem/BAKSYS.GHO", 0, "/m/VRLN/BackSystem/BAKSYS.GHO"},
        {"/m/VRLN/BackSystem/BAKSYS.GHO", 1, "/m/VRLN/BackSystem/BAKSYS.001"},
        {"/m/VRLN/BackSystem/BAKSYS.GHO", 12, "/m/VRLN/BackSystem/BAKSYS.012"},
        {"/m/VRLN/BackSystem/BAKSYS.GHO.partial", 0, "/m/VRLN/BackSystem/BAKSYS.GHO.partial"},
        {"/m/VRLN/BackSystem/BAKSYS.GHO.partial", 2, "/m/VRLN/BackSystem/BAKSYS.002.partial"},
        {"/m/a.b/image", 1, "/m/a.b/image.001"},
        {"/m/x/image.tar.gho", 3, "/m/x/image.tar.003"},
        {"/m/x/.gho", 1, "/m/x/.gho.001"},
    };
    for (const Case& c : cases) EXPECT_EQ(VolumePath(c.first, c.index), c.name) << c.first << " " << c.index;
}

// A split image: every volume but the last exactly full, read back as one file whichever volume the end
// record falls into; a set that is not whole is refused.
TEST_F(ImageFileTest, SplitImagesAreWrittenInFullVolumesAndReadAsOne) {
    const uint64_t volume = kSmallestVolume;
    const uint64_t overhead = kImageHeaderSize + kImageBlockHeaderSize + kImageTrailerSize;  // one stored block
    std::mt19937 rng(11);
    struct Case {
        const char* what;
        uint64_t fileBytes;
        size_t volumes;
    } cases[] = {
        {"the end record split over the last two volumes", 3 * volume + 10, 4},
        {"the last volume exactly full", 2 * volume, 2},
        {"a set of one short volume", volume / 2, 1},
    };
    for (const Case& c : cases) {
        std::string stream(c.fileBytes - overhead, '\0');
        for (char& ch : stream) ch = static_cast<char>(rng());
        ImageInfo written;
        ASSERT_TRUE(Write(stream, 0, written, 0, volume)) << c.what;
        EXPECT_EQ(written.fileBytes, c.fileBytes) << c.what;
        std::vector<std::string> volumes = ImageVolumes(path_, volume);
        ASSERT_EQ(volumes.size(), c.volumes) << c.what;
        uint64_t total = 0;
        for (size_t i = 0; i < volumes.size(); ++i) {
            struct stat st;
            ASSERT_EQ(stat(volumes[i].c_str(), &st), 0) << volumes[i];
            if (i + 1 < volumes.size()) {
                EXPECT_EQ(static_cast<uint64_t>(st.st_size), volume) << c.what;
            }
            total += static_cast<uint64_t>(st.st_size);
        }
        EXPECT_EQ(total, c.fileBytes) << c.what;
        ImageInfo header, checked;
        std::string error;
        ASSERT_TRUE(ReadImageHeader(path_, header, error)) << c.what << ": " << error;
        EXPECT_EQ(header.volumeBytes, volume);
        EXPECT_EQ(header.fileBytes, c.fileBytes);
        ASSERT_TRUE(VerifyImage(path_, checked, nullptr, error)) << c.what << ": " << error;
        EXPECT_EQ(checked.sha256, written.sha256);
        EXPECT_EQ(ReadBack(error), stream) << c.what;
        for (const std::string& name : Names()) unlink((dir_ + "/" + name).c_str());
    }
}

TEST_F(ImageFileTest, ASplitImageThatIsNotWholeIsRefused) {
    const uint64_t volume = kSmallestVolume;
    const uint64_t overhead = kImageHeaderSize + kImageBlockHeaderSize + kImageTrailerSize;
    std::string stream = Stream(3 * volume - overhead);  // three full volumes
    ImageInfo written;
    ASSERT_TRUE(Write(stream, 0, written, 0, volume));
    ASSERT_EQ(Names(), (std::vector<std::string>{"BAKSYS.001", "BAKSYS.002", "BAKSYS.GHO"}));
    std::string second = dir_ + "/BAKSYS.001", stray = dir_ + "/BAKSYS.003";
    std::string kept;
    struct Case {
        const char* what;
        std::function<void()> damage, repair;
    } cases[] = {
        {"a volume missing", [&] { rename(second.c_str(), (second + ".away").c_str()); },
         [&] { rename((second + ".away").c_str(), second.c_str()); }},
        {"a volume cut short",
         [&] {
             std::ifstream in(second, std::ios::binary);
             kept.assign(std::istreambuf_iterator<char>(in), {});
             truncate(second.c_str(), static_cast<off_t>(volume - 1));
         },
         [&] { std::ofstream(second, std::ios::binary | std::ios::trunc) << kept; }},
        {"a stray volume of an older image after a full last one", [&] { std::ofstream(stray) << "older image"; },
         [&] { unlink(stray.c_str()); }},
    };
    for (const Case& c : cases) {
        c.damage();
        ImageInfo info;
        std::string error;
        EXPECT_FALSE(VerifyImage(path_, info, nullptr, error)) << c.what;
        EXPECT_FALSE(ReadImageStream(path_, [](const unsigned char*, size_t) { return true; }, nullptr, error)) << c.what;
        c.repair();
        EXPECT_TRUE(VerifyImage(path_, info, nullptr, error)) << c.what << " repaired: " << error;
    }
}

TEST_F(ImageFileTest, AnAbandonedSplitImageLeavesNoVolumeAndAPipeIsNeverSplit) {
    ImageInfo info;
    info.fileSystem = "fat";
    info.streamKind = "partclone";
    info.volumeBytes = kSmallestVolume;
    std::string error;
    {
        ImageWriter writer;
        ASSERT_TRUE(writer.Create(path_, info, error)) << error;
        std::string big = Stream(3 * kSmallestVolume);
        ASSERT_TRUE(writer.Write(big.data(), big.size(), error)) << error;
        ImageInfo done;
        ASSERT_TRUE(writer.Finish(done, error)) << error;
        EXPECT_GE(writer.Volumes(), 1u);
    }
    ImageWriter abandoned;
    info.level = 0;
    ASSERT_TRUE(abandoned.Create(dir_ + "/OTHER.GHO", info, error)) << error;
    std::string big = Stream(3 * kSmallestVolume);
    ASSERT_TRUE(abandoned.Write(big.data(), big.size(), error)) << error;
    abandoned.Abandon();
    for (const std::string& name : Names()) EXPECT_EQ(name.find("OTHER"), std::string::npos) << name;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ImageWriter piped;
    EXPECT_FALSE(piped.Attach(fds[1], info, error));
    close(fds[0]);
}

TEST_F(ImageFileTest, MissingFile) {
    ImageInfo info;
    std::string error;
    EXPECT_FALSE(VerifyImage(dir_ + "/none.gho", info, nullptr, error));
    EXPECT_NE(error.find("cannot be opened"), std::string::npos);
}

TEST(Sha256, KnownDigests) {
    struct Case {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        Sha256 sha;
        // Fed in uneven pieces to exercise the buffering.
        for (size_t at = 0; at < c.input.size();) {
            size_t piece = std::min<size_t>(c.input.size() - at, 1 + at % 97);
            sha.Update(c.input.data() + at, piece);
            at += piece;
        }
        uint8_t digest[32];
        sha.Final(digest);
        EXPECT_EQ(Sha256::Hex(digest), c.digest);
    }
}

}  // namespace
}  // namespace vorlane
