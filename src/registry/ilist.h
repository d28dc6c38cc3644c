// A doubly linked list of item pointers with one cursor, the base of the installed
// copies list and of the copies' own name lists.
// Iteration: resetCursor(), then each next() moves the cursor to the head (from null) or
// to its node's successor and answers the item there; null at the end, where the cursor
// is null again.
// The list frees its nodes, never its items: an owning list destroys them in its own
// destructor with destroyItems(), as a base destructor cannot reach the derived type's
// way of destroying them.
#pragma once

#include <cstddef>
#include <new>

template <typename T>
class ILIST {
public:
    struct Node {
        T* item;
        Node* next;
        Node* prev;
    };

    ILIST() = default;
    virtual ~ILIST() { freeNodes(); }
    ILIST(const ILIST&) = delete;
    ILIST& operator=(const ILIST&) = delete;

    // Appends `item`; false (and nothing changes) when no node can be allocated.
    bool append(T* item) {
        Node* node = new (std::nothrow) Node{item, nullptr, tail_};
        if (!node) return false;
        if (tail_)
            tail_->next = node;
        else
            head_ = node;
        tail_ = node;
        ++count_;
        return true;
    }

    size_t count() const { return count_; }

    void resetCursor() { cursor_ = nullptr; }
    T* next() {
        cursor_ = cursor_ ? cursor_->next : head_;
        return cursor_ ? cursor_->item : nullptr;
    }

    // The item at `index` from the head, null past the end.
    T* at(size_t index) const {
        Node* node = head_;
        for (; node && index; --index) node = node->next;
        return node ? node->item : nullptr;
    }

protected:
    // Hands every item to `destroy` and frees the nodes; the list is empty afterwards.
    template <typename Destroy>
    void destroyItems(Destroy destroy) {
        for (Node* node = head_; node; node = node->next) {
            destroy(node->item);
            node->item = nullptr;
        }
        freeNodes();
    }

    Node* cursorNode() const { return cursor_; }
    void setCursorNode(Node* node) { cursor_ = node; }

private:
    void freeNodes() {
        Node* node = head_;
        while (node) {
            Node* following = node->next;
            delete node;
            node = following;
        }
        head_ = cursor_ = tail_ = saved_ = nullptr;
        count_ = 0;
    }

    Node* head_ = nullptr;
    Node* cursor_ = nullptr;
    Node* tail_ = nullptr;
    Node* saved_ = nullptr;
    size_t count_ = 0;
};
