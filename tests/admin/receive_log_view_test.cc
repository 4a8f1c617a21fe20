// The receive log read back: entries as the receiver writes them, and the
// new lines found after an append or after a trim replaced the file.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "admin/receive_log_view.h"
#include "admin/receiver_state.h"

namespace qb {
namespace {

TEST(ReceiveLogViewTest, ParsesTheReceiversLines) {
  struct Case {
    const char* line;
    bool entry;
    const char* when;
    bool marked;
    const char* sender;
    const char* file;
    int files;
    const char* folder;
  };
  const Case cases[] = {
      {"2026/12/06 15:46 *;;SCAN0000_000.tif;1;/srv/scans/dest1\n", true, "2026/12/06 15:46", false, "",
       "SCAN0000_000.tif", 1, "/srv/scans/dest1"},
      {"2026/12/06 15:47 *;Front MFP;page.pdf;3;\r\n", true, "2026/12/06 15:47", false, "Front MFP",
       "page.pdf", 3, ""},
      {"2026/12/06 15:48  ;;*** odd.tif ***;1;/srv/x", true, "2026/12/06 15:48", true, "", "odd.tif",
       1, "/srv/x"},
      {"2026/12/06 *;B C;F;1;E;D", true, "2026/12/06", false, "B C", "F", 1, "D"},
      {"//Quillbox Receive Log List\n", false, "", false, "", "", 0, ""},
      {"\n", false, "", false, "", "", 0, ""},
      {"2026/12/06 15:46 *;short", false, "", false, "", "", 0, ""},
  };
  for (const Case& c : cases) {
    const std::optional<ReceiveLogEntry> entry = ParseReceiveLogLine(c.line);
    ASSERT_EQ(entry.has_value(), c.entry) << c.line;
    if (!entry) continue;
    EXPECT_EQ(entry->when, c.when) << c.line;
    EXPECT_EQ(entry->marked, c.marked) << c.line;
    EXPECT_EQ(entry->sender, c.sender) << c.line;
    EXPECT_EQ(entry->file, c.file) << c.line;
    EXPECT_EQ(entry->files, c.files) << c.line;
    EXPECT_EQ(entry->folder, c.folder) << c.line;
  }
}

TEST(ReceiveLogViewTest, FindsTheNewLinesAfterAppendsAndTrims) {
  using Lines = std::vector<std::string>;
  const std::string header = "//Quillbox Receive Log List\n";
  struct Case {
    const char* name;
    Lines seen;
    Lines now;
    Lines fresh;
  };
  const Case cases[] = {
      {"first read", {}, {"a\n", "b\n"}, {"a\n", "b\n"}},
      {"nothing new", {"a\n", "b\n"}, {"a\n", "b\n"}, {}},
      {"appended", {"a\n", "b\n"}, {"a\n", "b\n", "c\n"}, {"c\n"}},
      {"the same line again", {"a\n", "b\n"}, {"a\n", "b\n", "b\n"}, {"b\n"}},
      {"trimmed to the newest with a header", {"a\n", "b\n", "c\n"}, {header, "b\n", "c\n", "d\n"},
       {"d\n"}},
      {"trimmed after repeats", {"a\n", "x\n", "x\n"}, {header, "x\n", "x\n", "x\n"}, {"x\n"}},
      {"everything seen was trimmed", {"a\n"}, {header, "c\n", "d\n"}, {"c\n", "d\n"}},
  };
  for (const Case& c : cases) EXPECT_EQ(LinesAfter(c.seen, c.now), c.fresh) << c.name;
}

TEST(ReceiverStateTest, PrinterEntriesAsTheReceiverWritesThem) {
  struct Case {
    const char* entry;
    const char* name;
    const char* address;
    int connection;
  };
  const Case cases[] = {
      {"192.168.1.20,3", "", "192.168.1.20", 3},
      {"FrontDesk[192.168.1.21],12", "FrontDesk", "192.168.1.21", 12},
      {"A[b][10.0.0.1],1", "A[b]", "10.0.0.1", 1},
  };
  for (const Case& c : cases) {
    const ConnectedPrinter printer = ParsePrinterEntry(c.entry);
    EXPECT_EQ(printer.name, c.name) << c.entry;
    EXPECT_EQ(printer.address, c.address) << c.entry;
    EXPECT_EQ(printer.connection, c.connection) << c.entry;
  }
}

}  // namespace
}  // namespace qb
