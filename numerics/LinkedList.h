#pragma once
// A doubly linked list of small values (ints or pointers) with one cursor.
// The list owns its nodes, never the values they hold.

template <class T>
struct LinkedListNode {
  LinkedListNode* next = nullptr;
  LinkedListNode* prev = nullptr;
  T value;
};

template <class T>
class LinkedList {
 public:
  LinkedList() = default;
  LinkedList(const LinkedList&) = delete;
  LinkedList& operator=(const LinkedList&) = delete;
  ~LinkedList() { Clear(); }

  // Links a new node after the tail; the cursor does not move.
  void Append(const T& value) {
    LinkedListNode<T>* node = new LinkedListNode<T>;
    node->value = value;
    node->prev = tail_;
    if (tail_ != nullptr) {
      tail_->next = node;
    } else {
      head_ = node;
    }
    tail_ = node;
    ++count_;
  }

  bool First(T* out) {
    cursor_ = head_;
    if (cursor_ == nullptr) return false;
    *out = cursor_->value;
    return true;
  }

  // False (cursor stays null) at the end of the list and ever after.
  bool Next(T* out) {
    if (cursor_ == nullptr) return false;
    cursor_ = cursor_->next;
    if (cursor_ == nullptr) return false;
    *out = cursor_->value;
    return true;
  }

  bool Last(T* out) {
    cursor_ = tail_;
    if (cursor_ == nullptr) return false;
    *out = cursor_->value;
    return true;
  }

  // Unlinks and frees the tail node (read it with Last first). A cursor on the
  // removed node becomes null, so it can never dangle.
  bool RemoveLast() {
    if (tail_ == nullptr) return false;
    LinkedListNode<T>* node = tail_;
    if (cursor_ == node) cursor_ = nullptr;
    tail_ = node->prev;
    if (tail_ != nullptr) {
      tail_->next = nullptr;
    } else {
      head_ = nullptr;
    }
    delete node;
    --count_;
    return true;
  }

  void Clear() {
    LinkedListNode<T>* node = head_;
    while (node != nullptr) {
      LinkedListNode<T>* next = node->next;
      delete node;
      node = next;
    }
    head_ = cursor_ = tail_ = nullptr;
    count_ = 0;
  }

  int Count() const { return count_; }

 private:
  LinkedListNode<T>* head_ = nullptr;
  LinkedListNode<T>* cursor_ = nullptr;
  LinkedListNode<T>* tail_ = nullptr;
  int count_ = 0;
};
