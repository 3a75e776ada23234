// Tests of the zip reader's two ways of inflating a part: small deflated parts in one call, large
// ones streamed. Each damage a hostile package can carry must fail the same way on both.
// SPDX-License-Identifier: Apache-2.0
#include "engine/zip/ZipReader.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/ReadCancel.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace gq::test {
namespace {

using namespace gq::engine;

const char* const kPart = "xl/worksheets/sheet1.xml";

// Rows of sheet XML of about `bytes` bytes, compressing about ten to one as real sheets do.
std::string SheetText(size_t bytes)
{
    std::string s;
    for (size_t i = 0; s.size() < bytes; ++i) {
        s += "<row r=\"" + std::to_string(i) + "\"><c><v>" + std::to_string(i * 7919 % 100003) + "</v></c></row>";
    }
    return s;
}

std::shared_ptr<ZipReader> Package(const ZipEntry& entry)
{
    return std::make_shared<ZipReader>(InputBytes::FromMemory(BuildZip({entry}), "hostile.xlsx"));
}

enum class Way { Read, Stream };

std::string Inflate(ZipReader& zip, Way way)
{
    if (way == Way::Read) {
        return zip.ReadPart(kPart, limits::kMaxPartBytes);
    }
    std::string out;
    zip.StreamPart(kPart, [&out](const char* data, size_t size) { out.append(data, size); });
    return out;
}

struct DamageCase {
    const char* what;
    std::function<void(ZipEntry&)> damage;
    const char* message; // nullptr: the part reads back whole
};

// 20 KB inflates in one call, 5 MB through zlib's stream beside the parser: the two paths.
const size_t kSizes[] = {20000, 5u << 20};

TEST(ZipReader, EveryDamageFailsAlikeOnBothPaths)
{
    const DamageCase cases[] = {
        {"intact", [](ZipEntry&) {}, nullptr},
        {"stored", [](ZipEntry& e) { e.deflate = false; }, nullptr},
        {"bad CRC", [](ZipEntry& e) { e.badCrc = true; }, "CRC check failed"},
        {"size lies upward", [](ZipEntry& e) { e.declaredSizeDelta = 40; }, "fewer bytes than its directory declares"},
        {"size lies downward", [](ZipEntry& e) { e.declaredSizeDelta = -40; },
         "more bytes than its directory declares"},
        // zlib takes the end of the bytes for the end of the stream; the CRC then fails.
        {"stream ends early", [](ZipEntry& e) { e.cutBody = 100; }, "CRC check failed"},
        {"stream cut in half", [](ZipEntry& e) { e.cutBody = e.data.size() / 20; }, "CRC check failed"},
        {"not a deflate stream", [](ZipEntry& e) { e.corruptStream = true; }, "invalid compressed data"},
    };
    for (size_t size : kSizes) {
        const std::string text = SheetText(size);
        for (const DamageCase& c : cases) {
            ZipEntry entry{kPart, text, true};
            c.damage(entry);
            auto zip = Package(entry);
            for (Way way : {Way::Read, Way::Stream}) {
                SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(size) + " bytes, " +
                             (way == Way::Read ? "read whole" : "streamed"));
                if (c.message == nullptr) {
                    EXPECT_EQ(Inflate(*zip, way), text);
                    continue;
                }
                try {
                    Inflate(*zip, way);
                    ADD_FAILURE() << "a damaged part was read";
                } catch (const FormatError& e) {
                    EXPECT_EQ(e.File(), "hostile.xlsx");
                    EXPECT_EQ(e.Part(), kPart);
                    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
                }
            }
        }
    }
}

TEST(ZipReader, LimitsHoldBeforeEitherPathInflates)
{
    // A part declared larger than the caller's cap (the metadata parts have a smaller one) is
    // refused before anything is inflated, on either path.
    for (size_t size : kSizes) {
        auto zip = Package(ZipEntry{kPart, SheetText(size), true});
        EXPECT_THROW(zip->ReadPart(kPart, size / 2), LimitError);
        EXPECT_EQ(zip->ReadPart(kPart, size * 2).size(), zip->DeclaredSize(kPart));
    }
}

TEST(ZipReader, ACancelledReadEndsOnBothPaths)
{
    std::atomic<bool> stop{true};
    for (size_t size : kSizes) {
        auto zip = Package(ZipEntry{kPart, SheetText(size), true});
        ReadCancelScope scope(stop);
        for (Way way : {Way::Read, Way::Stream}) {
            EXPECT_THROW(Inflate(*zip, way), ReadCancelled) << size;
        }
    }
}

} // namespace
} // namespace gq::test
