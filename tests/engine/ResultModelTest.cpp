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

// A number is only written again when it changes, so any other text written
// between two equal numbers must still be replaced by the second.
TEST(ResultModel, ANumberReplacesWhateverTextCameBetween)
{
    ResultModel m;
    m.addRow(" 1");
    m.setNumber(1, 6, 12);
    uint64_t r = m.revision();
    m.setNumber(1, 6, 12);
    EXPECT_EQ(m.revision(), r);
    m.setCell(1, 6, "---");
    m.setNumber(1, 6, 12);
    EXPECT_EQ(m.cell(1, 6), "12");
    m.setCell(1, 6, "12"); // the same text: no change
    r = m.revision();
    m.setNumber(1, 6, 12);
    EXPECT_EQ(m.revision(), r);
    m.setNumber(1, 6, -3);
    EXPECT_EQ(m.cell(1, 6), "-3");
    m.removeAllRows();
    m.addRow(" 1");
    m.setNumber(1, 6, -3);
    EXPECT_EQ(m.cell(1, 6), "-3") << "a new row starts empty, whatever the old one showed";
}

TEST(ResultModel, NotesAreWrittenWhenReadOncePerChange)
{
    ResultModel m;
    int writes = 0;
    m.setNotesWriter([&writes] { return "Hop : 2 / n=" + std::to_string(++writes) + "\r\n"; });
    const uint64_t r = m.revision();
    m.notesChanged();
    m.notesChanged();
    EXPECT_GT(m.revision(), r) << "a view must see that the notes changed";
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(m.notes(), "Hop : 2 / n=1\r\n");
    EXPECT_EQ(m.notes(), "Hop : 2 / n=1\r\n");
    m.notesChanged();
    EXPECT_EQ(m.notes(), "Hop : 2 / n=2\r\n");
    m.notesChanged();
    m.setNotes({}); // a reset wins over a change not yet written
    EXPECT_EQ(m.notes(), "");
    EXPECT_EQ(writes, 2);
}
