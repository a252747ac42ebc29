// Arc generation against a hand-written long-arc file: the 40-record buffer,
// its ties, the marks in the file and the iteration file's row.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/common.h"
#include "solver/arcgen.h"
#include "tests/support/random_problem.h"

using namespace common;
using namespace solver;

namespace {

class ArcGenTest : public ::testing::Test {
 protected:
  static constexpr int T = 50;
  void SetUp() override {
    dir = make_temp_dir("arcgen");
    path = dir + "temp.lng";
    net.num_nodes = 2 * T + 2;
    net.num_arcs = 1;
    add_arc(net, 1, depot_in_node(T), depot_out_node(T), 0, T, VEHICLE_COST, 0);
    prepare_network(net);
  }
  void TearDown() override { remove_dir(dir); }

  void write_records(const std::vector<LongArcRecord>& records, size_t extra_bytes = 0) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!records.empty()) std::fwrite(records.data(), sizeof(LongArcRecord), records.size(), f);
    for (size_t i = 0; i < extra_bytes; ++i) std::fputc(7, f);
    std::fclose(f);
  }
  std::vector<LongArcRecord> read_records() {
    std::vector<LongArcRecord> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    LongArcRecord r;
    while (std::fread(&r, sizeof r, 1, f) == 1) out.push_back(r);
    std::fclose(f);
    return out;
  }
  bool pass(std::string& row) {
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    bool added = false;
    try {
      added = generate_arcs(net, ks, counters, T, path, f);
    } catch (...) {
      std::fclose(f);
      free(text);
      throw;
    }
    std::fclose(f);
    row.assign(text, size);
    free(text);
    return added;
  }

  std::string dir, path;
  Network net;
  KilterState ks;
  RunCounters counters;
};

TEST_F(ArcGenTest, EmptyFileAddsNothing) {
  write_records({});
  std::string row;
  EXPECT_FALSE(pass(row));
  EXPECT_EQ(row, "\t00:00:00\t0\t0\t0\t0\t\t0\n");
  EXPECT_EQ(net.num_arcs, 1);
}

TEST_F(ArcGenTest, FortyMostNegativePerTailWithTiesToTheEarlierRecord) {
  std::vector<LongArcRecord> records;
  // Tail 51 (end of trip 1): 45 records costing -1..-5 in turn.
  for (int k = 0; k < 45; ++k) records.push_back({51, 2 + k, -(k % 5) - 1, 0});
  // Tail 52: one already included, one at reduced cost 0, one improving.
  records.push_back({52, 10, -100, 1});
  records.push_back({52, 11, 0, 0});
  records.push_back({52, 12, -7, 0});
  write_records(records, 9);  // a torn record at the end is no record

  std::string row;
  ASSERT_TRUE(pass(row));
  EXPECT_EQ(row, "\t00:00:00\t41\t-7\t-1\t0\t\t0\n");
  ASSERT_EQ(net.num_arcs, 1 + 41);
  EXPECT_EQ(counters.longs_included, 41);
  // Added by group, most negative first, ties in file order.
  std::vector<int> expected_heads;
  for (int value = 5; value >= 2; --value)
    for (int k = 0; k < 45; ++k)
      if (k % 5 + 1 == value) expected_heads.push_back(2 + k);
  for (int k : {0, 5, 10, 15}) expected_heads.push_back(2 + k);  // the first four of the -1 records
  expected_heads.push_back(12);
  for (size_t n = 0; n < expected_heads.size(); ++n) {
    int a = 2 + static_cast<int>(n);
    EXPECT_EQ(net.head[a], expected_heads[n]) << a;
    EXPECT_EQ(net.lower[a], 0);
    EXPECT_EQ(net.upper[a], 1);
    EXPECT_EQ(net.flow[a], 0);
  }
  // Appended at the ends of their lists.
  EXPECT_EQ(net.first_out[51], 2);
  EXPECT_EQ(net.next_out[2], 3);
  EXPECT_EQ(net.first_out[52], 42);

  std::vector<LongArcRecord> after = read_records();
  ASSERT_EQ(after.size(), records.size());
  int marked = 0;
  for (size_t k = 0; k < after.size(); ++k) {
    EXPECT_EQ(after[k].tail, records[k].tail);
    EXPECT_EQ(after[k].head, records[k].head);
    EXPECT_EQ(after[k].cost, records[k].cost);
    marked += after[k].included;
  }
  EXPECT_EQ(marked, 42);  // 41 now and the one included before

  // The next pass takes the five -1 records left behind, then nothing.
  ASSERT_TRUE(pass(row));
  EXPECT_EQ(row, "\t00:00:00\t5\t-1\t-1\t0\t\t0\n");
  EXPECT_FALSE(pass(row));
  EXPECT_EQ(row, "\t00:00:00\t0\t0\t0\t0\t\t0\n");
}

TEST_F(ArcGenTest, MarksLandAcrossReadBlocksAndInGroupsLongerThanABlock) {
  // A damaged file's tail group of 20000 records, read in several blocks,
  // then groups that straddle block boundaries: every chosen record is
  // marked, whichever block held it, and nothing else changes.
  std::vector<LongArcRecord> records(20000, LongArcRecord{51, 3, 10, 0});
  std::vector<size_t> chosen = {100, 9000, 19000};
  for (size_t k : chosen) records[k].head = 2;
  for (int group = 0; group < 30; ++group) {
    for (int k = 0; k < 700; ++k) records.push_back({52 + group, 3, 10, 0});
    records[records.size() - 1 - static_cast<size_t>(group * 23)].head = 2;
    chosen.push_back(records.size() - 1 - static_cast<size_t>(group * 23));
  }
  write_records(records, 5);
  ks.price[2] = 20;  // rc -10; head 3 costs rc 10
  std::string row;
  ASSERT_TRUE(pass(row));
  EXPECT_EQ(counters.longs_included, static_cast<int>(chosen.size()));
  std::vector<LongArcRecord> after = read_records();
  ASSERT_EQ(after.size(), records.size());
  for (size_t k : chosen) records[k].included = 1;
  for (size_t k = 0; k < after.size(); ++k)
    ASSERT_EQ(std::memcmp(&after[k], &records[k], sizeof(LongArcRecord)), 0) << k;
}

TEST_F(ArcGenTest, ReducedCostsUseTheNodePrices) {
  write_records({{51, 2, 10, 0}, {51, 3, 10, 0}, {53, 4, 5, 0}});
  ks.price[51] = 0;
  ks.price[2] = 11;  // rc -1
  ks.price[3] = 10;  // rc 0: never chosen
  ks.price[53] = -3;
  ks.price[4] = 7;   // rc -5: first record of a new group
  std::string row;
  ASSERT_TRUE(pass(row));
  EXPECT_EQ(row, "\t00:00:00\t2\t-5\t-1\t0\t\t0\n");
  EXPECT_EQ(net.head[2], 2);
  EXPECT_EQ(net.head[3], 4);
}

TEST_F(ArcGenTest, MissingFileStopsWithoutPause) {
  try {
    std::string row;
    pass(row);
    FAIL();
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message, "Error Opening Temp File.\n");
    EXPECT_FALSE(e.pause);
    EXPECT_EQ(e.exit_code, 1);
  }
}

TEST(Objective, VehiclesAndCostFromTheFlows) {
  Network net;
  net.num_nodes = 4;
  net.num_arcs = 3;
  add_arc(net, 1, 3, 1, 0, 1, 100, 1);
  add_arc(net, 2, 1, 2, 1, 1, 0, 1);
  add_arc(net, 3, 4, 3, 0, 1, 1000, 1);
  int vehicles = -1;
  EXPECT_EQ(objective_value(net, 1, vehicles), 1100);
  EXPECT_EQ(vehicles, 1);
}

}  // namespace
