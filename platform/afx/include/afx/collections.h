// CPtrList and CStringList: the framework's doubly linked lists, walked with POSITION values.
// A POSITION is its element's node and stays valid until that element is removed.
#pragma once

#include <utility>

#include "afx/string.h"

struct __POSITION {};
typedef __POSITION* POSITION;

template <typename T>
class CAfxList {
 public:
  CAfxList() = default;
  ~CAfxList() { RemoveAll(); }
  CAfxList(const CAfxList&) = delete;
  CAfxList& operator=(const CAfxList&) = delete;

  int GetCount() const { return count_; }
  BOOL IsEmpty() const { return count_ == 0; }

  POSITION AddHead(const T& v) { return Pos(Link(new Node{nullptr, head_, v})); }
  POSITION AddTail(const T& v) { return Pos(Link(new Node{tail_, nullptr, v})); }
  T& GetHead() { return head_->value; }
  T& GetTail() { return tail_->value; }
  T RemoveHead() { return Unlink(head_); }
  T RemoveTail() { return Unlink(tail_); }
  void RemoveAll() {
    while (head_) Unlink(head_);
  }

  POSITION GetHeadPosition() const { return Pos(head_); }
  POSITION GetTailPosition() const { return Pos(tail_); }
  // The element at pos; pos moves on to the next element (null after the last).
  T& GetNext(POSITION& pos) {
    Node* n = NodeOf(pos);
    pos = Pos(n->next);
    return n->value;
  }
  T& GetAt(POSITION pos) { return NodeOf(pos)->value; }
  void RemoveAt(POSITION pos) { Unlink(NodeOf(pos)); }

 private:
  struct Node {
    Node* prev;
    Node* next;
    T value;
  };
  Node* Link(Node* n) {
    (n->prev ? n->prev->next : head_) = n;
    (n->next ? n->next->prev : tail_) = n;
    ++count_;
    return n;
  }
  T Unlink(Node* n) {
    (n->prev ? n->prev->next : head_) = n->next;
    (n->next ? n->next->prev : tail_) = n->prev;
    --count_;
    T v = std::move(n->value);
    delete n;
    return v;
  }
  static POSITION Pos(Node* n) { return reinterpret_cast<POSITION>(n); }
  static Node* NodeOf(POSITION p) { return reinterpret_cast<Node*>(p); }

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  int count_ = 0;
};

class CPtrList : public CAfxList<void*> {};
class CStringList : public CAfxList<CString> {};
