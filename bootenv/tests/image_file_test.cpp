#include "image_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "base/sha256.h"

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
        unlink(path_.c_str());
        rmdir(dir_.c_str());
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
    bool Write(const std::string& stream, int level, ImageInfo& result) {
        ImageInfo info;
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

TEST_F(ImageFileTest, RoundTripAtEveryKindOfLevel) {
    std::string stream = Stream(2 * kImageBlockSize + 12345);
    for (int level : {0, 1, 3, 9}) {
        ImageInfo written;
        ASSERT_TRUE(Write(stream, level, written)) << level;
        EXPECT_EQ(written.streamBytes, stream.size());
        EXPECT_EQ(written.blockCount, 3u);
        ImageInfo checked;
        std::string error;
        ASSERT_TRUE(VerifyImage(path_, checked, nullptr, error)) << error;
        EXPECT_EQ(checked.sha256, written.sha256);
        EXPECT_EQ(checked.fileSystem, "ntfs");
        EXPECT_EQ(checked.partitionBytes, 1u << 30);
        EXPECT_EQ(ReadBack(error), stream) << "level " << level;
        if (level > 0) {
            EXPECT_LT(FileBytes().size(), stream.size());
        }
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

TEST_F(ImageFileTest, AnUnfinishedImageIsRefused) {
    ImageInfo info;
    info.level = 0;  // stored: the blocks reach the disk before the end
    info.fileSystem = "ntfs";
    info.streamKind = "partclone";
    ImageWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Create(path_, info, error));
    std::string stream = Stream(12 * kImageBlockSize);
    ASSERT_TRUE(writer.Write(stream.data(), stream.size(), error));
    // Never finished: blocks are on the disk but the end record is not.
    ImageInfo header;
    EXPECT_FALSE(ReadImageHeader(path_, header, error));
    EXPECT_NE(error.find("incomplete"), std::string::npos) << error;
    writer.Abandon();
    EXPECT_NE(access(path_.c_str(), F_OK), 0);
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
