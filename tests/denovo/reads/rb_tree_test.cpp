// Red-black tree: random inserts and deletes against a multiset model with
// the check passing after every step, duplicates in insertion order, node
// stability, traversals, each fault of the check on a hand-built tree, and
// the debugging print.
#include "denovo/reads/rb_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/memory.h"

namespace {

// Items are (key, serial) pairs ordered by key only, so equal keys stay
// distinguishable.
struct Item {
  int key;
  int serial;
};

int compare_items(const void *a, const void *b) {
  const int x = static_cast<const Item *>(a)->key, y = static_cast<const Item *>(b)->key;
  return x < y ? -1 : x > y ? 1 : 0;
}

std::vector<const Item *> in_order(const rb_tree_t *tree) {
  std::vector<const Item *> out;
  void **items = rb_tree_to_array(tree);
  const uint64_t n = rb_tree_get_count(tree);
  for (uint64_t i = 0; i < n; i++) out.push_back(static_cast<const Item *>(items[i]));
  ryx_free(items);
  return out;
}

// rb_tree_check with its output captured.
int check(const rb_tree_t *tree, std::string *printed) {
  testing::internal::CaptureStdout();
  const int result = rb_tree_check(tree);
  *printed = testing::internal::GetCapturedStdout();
  return result;
}

TEST(RbTree, RandomInsertsAndDeletesKeepTheTreeValidAndOrdered) {
  std::mt19937 rng(1);
  std::vector<std::unique_ptr<Item>> storage;
  rb_tree_t *tree = rb_tree_new(compare_items, nullptr);
  // The model: key -> nodes in insertion order (equal keys stay in
  // insertion order unless one between them is deleted).
  std::multimap<int, rb_tree_node_t *> model;
  int serial = 0;
  for (int step = 0; step < 3000; step++) {
    const bool insert = model.empty() || rng() % 5 < 3;
    if (insert) {
      storage.push_back(std::make_unique<Item>(Item{static_cast<int>(rng() % 200), serial++}));
      rb_tree_node_t *node = rb_tree_insert(tree, storage.back().get());
      ASSERT_EQ(node->item, storage.back().get());
      model.emplace(storage.back()->key, node);
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      void *item = it->second->item;
      ASSERT_EQ(rb_tree_delete(tree, it->second), item);
      model.erase(it);
    }
    std::string printed;
    ASSERT_EQ(check(tree, &printed), 0) << printed << " after step " << step;
    ASSERT_EQ(printed, "");
    if (step % 50 == 0 || model.size() < 10) {
      // Every surviving node still holds its own item, in model order.
      const auto items = in_order(tree);
      ASSERT_EQ(items.size(), model.size());
      size_t i = 0;
      for (const auto &[key, node] : model) {
        ASSERT_EQ(items[i]->key, key);
        ASSERT_EQ(node->item, items[i]) << "a node's item moved";
        i++;
      }
    }
  }
  while (!rb_tree_is_empty(tree)) {
    rb_tree_delete(tree, tree->root);
    std::string printed;
    ASSERT_EQ(check(tree, &printed), 0) << printed;
  }
  EXPECT_EQ(rb_tree_get_count(tree), 0u);
  EXPECT_EQ(rb_tree_free(tree), nullptr);
}

TEST(RbTree, EqualItemsStayInInsertionOrderAndFindMeetsTheFirstOnTheWay) {
  Item a{5, 0}, b{5, 1}, c{5, 2};
  rb_tree_t *tree = rb_tree_new(compare_items, nullptr);
  rb_tree_insert(tree, &a);
  rb_tree_insert(tree, &b);
  rb_tree_insert(tree, &c);
  EXPECT_EQ(rb_tree_get_count(tree), 3u);
  const auto items = in_order(tree);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], &a);
  EXPECT_EQ(items[1], &b);
  EXPECT_EQ(items[2], &c);
  // After the rotation the middle item is the root, the first node met.
  Item key{5, -1};
  rb_tree_node_t *found = rb_tree_find(tree, &key);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, tree->root);
  EXPECT_EQ(found->item, &b);
  Item missing{4, -1};
  EXPECT_EQ(rb_tree_find(tree, &missing), nullptr);
  rb_tree_free(tree);
}

TEST(RbTree, DeletingTheRootOfThreeNodesLeavesAValidTree) {
  Item items[3] = {{1, 0}, {2, 1}, {3, 2}};
  rb_tree_t *tree = rb_tree_new(compare_items, nullptr);
  for (Item &item : items) rb_tree_insert(tree, &item);
  ASSERT_EQ(tree->root->item, &items[1]);
  EXPECT_EQ(rb_tree_delete(tree, tree->root), &items[1]);
  std::string printed;
  EXPECT_EQ(check(tree, &printed), 0) << printed;
  const auto left = in_order(tree);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], &items[0]);
  EXPECT_EQ(left[1], &items[2]);
  rb_tree_free(tree);
}

TEST(RbTree, TraversalsWalkAndArraysAgree) {
  std::vector<Item> items;
  for (int i = 0; i < 50; i++) items.push_back({(i * 37) % 50, i});
  rb_tree_t *tree = rb_tree_new(compare_items, nullptr);
  for (Item &item : items) rb_tree_insert(tree, &item);

  std::vector<int> forward;
  for (rb_tree_node_t *n = rb_tree_first(tree); n != nullptr; n = rb_tree_next(n)) {
    forward.push_back(static_cast<Item *>(n->item)->key);
  }
  std::vector<int> backward;
  for (rb_tree_node_t *n = rb_tree_last(tree); n != nullptr; n = rb_tree_prev(n)) {
    backward.push_back(static_cast<Item *>(n->item)->key);
  }
  std::vector<int> expected(50);
  for (int i = 0; i < 50; i++) expected[static_cast<size_t>(i)] = i;
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(backward, std::vector<int>(expected.rbegin(), expected.rend()));

  void **descending = rb_tree_to_array_descending(tree);
  for (int i = 0; i < 50; i++) EXPECT_EQ(static_cast<Item *>(descending[i])->key, 49 - i);
  ryx_free(descending);

  // The walk is pre-order: a node before its left subtree, which comes
  // before its right subtree.
  std::vector<const rb_tree_node_t *> expected_walk;
  std::function<void(const rb_tree_node_t *)> pre = [&](const rb_tree_node_t *n) {
    if (n == nullptr) return;
    expected_walk.push_back(n);
    pre(n->left);
    pre(n->right);
  };
  pre(tree->root);
  std::vector<void *> walked;
  rb_tree_walk(
      tree, [](void *item, void *context) { static_cast<std::vector<void *> *>(context)->push_back(item); }, &walked);
  ASSERT_EQ(walked.size(), expected_walk.size());
  for (size_t i = 0; i < walked.size(); i++) EXPECT_EQ(walked[i], expected_walk[i]->item);
  rb_tree_free(tree);
}

int g_freed_items;

TEST(RbTree, FreeWithItemsHandsEveryItemToTheCallback) {
  g_freed_items = 0;
  rb_tree_t *tree = rb_tree_new(compare_items, [](void *item) {
    g_freed_items++;
    delete static_cast<Item *>(item);
  });
  for (int i = 0; i < 20; i++) rb_tree_insert(tree, new Item{i % 7, i});
  EXPECT_EQ(rb_tree_free_with_items(tree), nullptr);
  EXPECT_EQ(g_freed_items, 20);
  EXPECT_EQ(rb_tree_free(nullptr), nullptr);
  EXPECT_EQ(rb_tree_free_with_items(nullptr), nullptr);
}

// A valid tree built by hand: the black root 4 with the red left child 2
// and the black right child 5; 2 has the black children 1 and 3.
struct HandTree {
  Item items[5] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}};
  rb_tree_node_t n1{}, n2{}, n3{}, n4{}, n5{};
  rb_tree_t tree{nullptr, compare_items, nullptr};
  HandTree() {
    n1 = {&items[0], &n2, nullptr, nullptr, kRbTreeBlack};
    n2 = {&items[1], &n4, &n1, &n3, kRbTreeRed};
    n3 = {&items[2], &n2, nullptr, nullptr, kRbTreeBlack};
    n4 = {&items[3], nullptr, &n2, &n5, kRbTreeBlack};
    n5 = {&items[4], &n4, nullptr, nullptr, kRbTreeBlack};
    tree.root = &n4;
  }
};

TEST(RbTree, CheckReportsTheFirstFaultOfEachKind) {
  const struct {
    const char *name;
    std::function<void(HandTree &)> damage;
    const char *message;
  } cases[] = {
      {"valid", [](HandTree &) {}, ""},
      {"red root", [](HandTree &t) { t.n4.colour = kRbTreeRed; }, "Root is not black\n"},
      {"root with parent", [](HandTree &t) { t.n4.parent = &t.n5; }, "Root parents is not NULL\n"},
      {"bad colour", [](HandTree &t) { t.n1.colour = 2; }, "Node is not black or red\n"},
      {"left link", [](HandTree &t) { t.n1.parent = &t.n4; }, "Left child does not point to parent\n"},
      {"red left child", [](HandTree &t) { t.n1.colour = kRbTreeRed; }, "Parent is red but left child is not BLACK\n"},
      {"right link", [](HandTree &t) { t.n3.parent = nullptr; }, "Right child does not point to parent\n"},
      {"red right child", [](HandTree &t) { t.n3.colour = kRbTreeRed; },
       "Parent is red but right child is not black\n"},
      {"unsorted", [](HandTree &t) { std::swap(t.n1.item, t.n3.item); }, "Tree is not sorted\n"},
      {"black heights", [](HandTree &t) { t.n5.colour = kRbTreeRed; },
       "Not all simple paths contain the same number of black nodes\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    HandTree t;
    c.damage(t);
    std::string printed;
    EXPECT_EQ(check(&t.tree, &printed), c.message[0] == '\0' ? 0 : 1);
    EXPECT_EQ(printed, c.message);
  }
  rb_tree_t empty{nullptr, compare_items, nullptr};
  std::string printed;
  EXPECT_EQ(check(&empty, &printed), 0);
}

TEST(RbTree, PrintPutsRightChildrenOnTheLineAndLeftChildrenBelow) {
  HandTree t;
  auto text = [](const void *item, void *context, int column) -> const char * {
    auto *buffer = static_cast<std::string *>(context);
    *buffer = std::to_string(static_cast<const Item *>(item)->key);
    if (static_cast<const Item *>(item)->key == 5) *buffer += "@" + std::to_string(column);
    return buffer->c_str();
  };
  std::string buffer;
  testing::internal::CaptureStdout();
  rb_tree_print(&t.tree, text, &buffer, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "4;b - 5@6;b\n"
            "|\n"
            "2;r - 3;b\n"
            "|\n"
            "1;b\n");
  // The left child of a right child hangs under its parent, with a "|"
  // kept for the root, whose left subtree is still to come.
  t.n2.right = nullptr;
  t.n5.left = &t.n3;
  t.n3.parent = &t.n5;
  testing::internal::CaptureStdout();
  rb_tree_print(&t.tree, text, &buffer, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "4 - 5@4\n"
            "|   |\n"
            "|   3\n"
            "|\n"
            "2\n"
            "|\n"
            "1\n");
}

}  // namespace
