// Under Wine, letting go of the last stream right after reading it can hang the installer:
// a hold keeps the first row offered open until it ends, and only that one.
#include "fixture.h"
#include "runtime/stream_row_hold.h"

using namespace fa9test;

namespace {

using StreamRowHolds = SessionTest;

TEST_F(StreamRowHolds, KeepTheFirstRowOfferedOpenUntilTheyEnd) {
    const size_t before = winsim::openMsiHandleCount();
    const auto readRow = [] {
        unique_msihandle record(MsiCreateRecord(2));
        const MSIHANDLE offered = record.get();
        StreamRowHold::offer(record);
        return offered;
    };
    readRow();
    EXPECT_EQ(winsim::openMsiHandleCount(), before) << "without a hold nothing is kept";
    StreamRowHold outer;
    {
        StreamRowHold hold;
        const MSIHANDLE first = readRow();
        readRow();
        EXPECT_EQ(winsim::openMsiHandleCount(), before + 1);
        EXPECT_EQ(MsiRecordGetFieldCount(first), 2u) << "the one kept is the first";
    }
    EXPECT_EQ(winsim::openMsiHandleCount(), before) << "the inner hold took it and let it go";
}

}  // namespace
