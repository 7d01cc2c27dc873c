#include "output/table.h"

#include <gtest/gtest.h>

namespace pendrel {
namespace {

TEST(RenderTable, PadsEachColumnToItsWidestCellPlusTwo) {
  Table table{{"ID", "NAME", "ADDRESS", "USER", "PROTOCOL"},
              {"h_1a2b", "web-1", "10.0.0.5:22", "deploy", "SSH"}};
  EXPECT_EQ(render_table(table),
            "ID      NAME   ADDRESS      USER    PROTOCOL\n"
            "h_1a2b  web-1  10.0.0.5:22  deploy  SSH\n");
}

TEST(RenderTable, AlignsByDisplayWidthNotBytes) {
  Table table{{"ID", "名称", "地址"}, {"a", "数据", "x"}, {"b", "e\u0301tre", "y"}};
  EXPECT_EQ(render_table(table),
            "ID  名称  地址\n"
            "a   数据  x\n"
            "b   e\u0301tre  y\n");
}

TEST(RenderTable, ShortRowsEndEarlyAndEmptyRowsAreEmptyLines) {
  Table table{{"a", "bb", "c"}, {"dddd"}, {}, {"e", "f"}};
  EXPECT_EQ(render_table(table),
            "a     bb  c\n"
            "dddd\n"
            "\n"
            "e     f\n");
}

TEST(RenderTable, EmptyTableIsEmptyText) {
  EXPECT_EQ(render_table({}), "");
}

}  // namespace
}  // namespace pendrel
