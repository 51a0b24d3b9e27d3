// Index trees built from sorted entries: walked from the root they give back
// every entry in order, leaves chained first to last, node entries equal to
// their child's last entry, the last child of a node as its tail, and node
// levels appear as the index grows.
#include <gtest/gtest.h>

#include <map>

#include "jet/format.h"
#include "jet/index_build.h"
#include "jet/index_leaf.h"

namespace kp::jet {
namespace {

class MemorySink : public PageSink {
 public:
  uint32_t AllocatePage() override { return next_++; }
  Status WritePage(uint32_t n, const uint8_t* page) override {
    pages_[n].assign(page, page + kPageSize);
    return Status::OK();
  }
  std::map<uint32_t, Bytes> pages_;
  uint32_t next_ = 20;
};

// Walks the tree under `n`; returns its depth (1 for a leaf).
int Walk(const MemorySink& sink, uint32_t n, std::vector<Bytes>* entries, std::vector<uint32_t>* leaves) {
  EXPECT_TRUE(sink.pages_.count(n)) << "page " << n << " never written";
  if (!sink.pages_.count(n)) return 0;
  IndexPage ip;
  EXPECT_TRUE(DecodeIndexPage(sink.pages_.at(n).data(), n, &ip).ok());
  EXPECT_EQ(ip.tdef_page, 7u);
  EXPECT_EQ(ip.free_space, kPageSize - kIndexEntriesOffset - ip.entries_end);
  if (ip.is_leaf()) {
    leaves->push_back(n);
    entries->insert(entries->end(), ip.entries.begin(), ip.entries.end());
    return 1;
  }
  std::vector<uint32_t> children;
  for (const Bytes& e : ip.entries) children.push_back(GetU32(e.data() + e.size() - 4));
  for (uint32_t& c : children) c = __builtin_bswap32(c);
  // One child: an entry; more: the last is the tail.
  EXPECT_EQ(ip.tail_page != 0, ip.entries.size() + (ip.tail_page != 0) > 1) << "node " << n;
  if (ip.tail_page != 0) children.push_back(ip.tail_page);
  int depth = 0;
  for (size_t k = 0; k < children.size(); ++k) {
    depth = Walk(sink, children[k], entries, leaves) + 1;
    if (k < ip.entries.size()) {
      const Bytes& e = ip.entries[k];
      EXPECT_TRUE(std::equal(e.begin(), e.end() - 4, entries->back().begin(), entries->back().end()))
          << "node " << n << " entry " << k;
    }
  }
  return depth;
}

TEST(IndexBuildTest, TreesHoldEveryEntryInOrder) {
  struct Case {
    size_t count;
    size_t key_bytes;  // of a text-like key
    int min_depth;
  };
  for (const Case& c : std::vector<Case>{{0, 4, 1}, {1, 4, 1}, {350, 4, 1}, {150000, 4, 2}, {40000, 60, 3}}) {
    SCOPED_TRACE(std::to_string(c.count) + " entries");
    MemorySink sink;
    IndexTreeBuilder tree(7, &sink);
    std::vector<Bytes> want;
    for (size_t i = 0; i < c.count; ++i) {
      Bytes e = {kIndexEntryPresent};
      for (int s = 24; s >= 0; s -= 8) e.push_back(uint8_t(i >> s));  // big-endian number
      for (size_t k = 0; k + 4 < c.key_bytes; ++k) e.push_back(uint8_t(i * 7 + k));
      const uint32_t row = uint32_t(100 + i / 200) << 8 | uint32_t(i % 200);
      for (int s = 24; s >= 0; s -= 8) e.push_back(uint8_t(row >> s));
      ASSERT_TRUE(tree.Add(e).ok());
      want.push_back(std::move(e));
    }
    if (c.count > 1) EXPECT_FALSE(tree.Add(want.front()).ok());  // out of order
    uint32_t root = 0;
    ASSERT_TRUE(tree.Finish(&root).ok());
    std::vector<Bytes> got;
    std::vector<uint32_t> leaves;
    EXPECT_GE(Walk(sink, root, &got, &leaves), c.min_depth);
    EXPECT_EQ(got, want);
    EXPECT_EQ(sink.pages_.size(), tree.pages().size());
    for (size_t k = 0; k < leaves.size(); ++k) {
      IndexPage leaf;
      ASSERT_TRUE(DecodeIndexPage(sink.pages_[leaves[k]].data(), leaves[k], &leaf).ok());
      EXPECT_EQ(leaf.prev_page, k == 0 ? 0 : leaves[k - 1]);
      EXPECT_EQ(leaf.next_page, k + 1 == leaves.size() ? 0 : leaves[k + 1]);
    }
  }
}

}  // namespace
}  // namespace kp::jet
