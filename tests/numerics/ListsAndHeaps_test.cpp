#include <gtest/gtest.h>

#include <vector>

#include "numerics/LinkedList.h"
#include "numerics/MaxHeap.h"
#include "numerics/MinHeap.h"

TEST(LinkedListTest, CursorWalkAndEnds) {
  LinkedList<int> list;
  int v = -1;
  EXPECT_FALSE(list.First(&v));
  EXPECT_FALSE(list.Next(&v));
  for (int i = 1; i <= 3; ++i) list.Append(i);
  std::vector<int> seen;
  for (bool more = list.First(&v); more; more = list.Next(&v)) seen.push_back(v);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(list.Next(&v));  // stays at the end
  EXPECT_TRUE(list.Last(&v));
  EXPECT_EQ(v, 3);
}

TEST(LinkedListTest, RemoveLastUnderTheCursorAndDownToEmpty) {
  LinkedList<int> list;
  list.Append(10);
  list.Append(20);
  int v;
  ASSERT_TRUE(list.Last(&v));
  ASSERT_TRUE(list.RemoveLast());  // the node under the cursor
  EXPECT_FALSE(list.Next(&v));     // the cursor does not dangle
  EXPECT_EQ(list.Count(), 1);
  ASSERT_TRUE(list.Last(&v));
  EXPECT_EQ(v, 10);
  ASSERT_TRUE(list.RemoveLast());
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.First(&v));
  EXPECT_FALSE(list.RemoveLast());
  list.Append(5);  // usable again after being emptied
  ASSERT_TRUE(list.First(&v));
  EXPECT_EQ(v, 5);
}

TEST(HeapTest, MaxHeapIgnoresOverfillAndPopsLargestFirst) {
  MaxHeap heap(3);
  for (double key : {5.0, 1.0, 7.0, 9.0}) heap.Push(HeapEntry{key, static_cast<int>(key)});
  EXPECT_EQ(heap.Count(), 3);
  std::vector<double> popped;
  HeapEntry e;
  while (heap.Pop(&e)) popped.push_back(e.key);
  EXPECT_EQ(popped, (std::vector<double>{7, 5, 1}));
}

TEST(HeapTest, MinHeapOrderTiesAndOverfill) {
  MinHeap heap(4);
  EXPECT_NE(heap.Push(HeapEntry{2.0, 1}), nullptr);
  heap.Push(HeapEntry{2.0, 2});
  heap.Push(HeapEntry{0.5, 3});
  heap.Push(HeapEntry{3.0, 4});
  EXPECT_EQ(heap.Push(HeapEntry{0.1, 5}), nullptr);  // beyond the capacity: ignored
  std::vector<int> values;
  HeapEntry e;
  while (heap.Pop(&e)) values.push_back(e.value);
  // The sift rules decide ties: after 0.5 went to the root, entry 2 sits on the left.
  EXPECT_EQ(values, (std::vector<int>{3, 2, 1, 4}));
  EXPECT_FALSE(heap.Pop(&e));

  MinHeap twins(2);
  twins.Push(HeapEntry{1.0, 7});
  twins.Push(HeapEntry{1.0, 8});
  ASSERT_TRUE(twins.Pop(&e));
  EXPECT_EQ(e.value, 7);
}
