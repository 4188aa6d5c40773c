#include <gtest/gtest.h>

#include "engine/ResultModel.h"

TEST(ResultModel, RowsAreOneBasedAndChangesBumpTheRevision)
{
    ResultModel m;
    m.addRow(" 1");
    m.setCell(1, 1, "10.0.0.1");
    const uint64_t r = m.revision();
    m.setCell(1, 1, "10.0.0.1");
    EXPECT_EQ(m.revision(), r) << "an unchanged cell is not a change";
    EXPECT_EQ(m.cell(1, 0), " 1");
    EXPECT_EQ(m.cell(1, 1), "10.0.0.1");
    EXPECT_EQ(m.cell(1, 11), "");
    m.removeAllRows();
    EXPECT_EQ(m.rowCount(), 0);
}
