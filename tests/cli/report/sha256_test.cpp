#include "cli/report/sha256.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

std::string digestOf(const std::string& text, size_t piece) {
    Sha256 sha;
    for (size_t at = 0; at < text.size(); at += piece) {
        const std::string part = text.substr(at, piece);
        sha.update(reinterpret_cast<const uint8_t*>(part.data()), part.size());
    }
    return sha.finishHex();
}

struct Vector {
    std::string message;
    const char* digest;
};

// The standard's own examples, plus lengths around the 55/56/64-byte padding edges.
TEST(Sha256Test, KnownDigestsWhateverThePieces) {
    const std::vector<Vector> vectors{
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& v : vectors) {
        for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}}) {
            if (piece == 1 && v.message.size() > 100000) {
                continue;
            }
            EXPECT_EQ(digestOf(v.message, piece), v.digest)
                << v.message.size() << " bytes in pieces of " << piece;
        }
    }
}

TEST(Sha256Test, FileDigestOrTheSystemsReason) {
    test::TempDir dir;
    const std::string path = dir.write("abc.bin", {'a', 'b', 'c'});
    const std::optional<FileDigest> digest = digestFile(path);
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->bytes, 3u);
    EXPECT_EQ(digest->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    int error = 0;
    EXPECT_FALSE(digestFile(dir.file("missing.bin"), &error));
    EXPECT_EQ(error, ENOENT);
    error = 0;
    EXPECT_FALSE(digestFile(dir.path(), &error));  // a directory opens, then cannot be read
    EXPECT_EQ(error, EISDIR);
}

}  // namespace
}  // namespace tarnlink
