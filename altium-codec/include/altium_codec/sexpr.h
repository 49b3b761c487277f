// sexpr: a small, forgiving reader for KiCad s-expression text (.kicad_sym, .kicad_mod).
//
// parse() turns text into a Document: a tree of lists and atoms stored as one flat array of
// nodes in pre-order, with atom texts viewing one owned copy of the source; only quoted strings
// holding escapes get text of their own. A quoted string and a bare word with the same text
// give identical atoms. parse_borrowed() skips the copy for callers whose text outlives the
// tree. Anything before the first "(" is ignored. Line numbers are
// tracked only for the error messages, which are exactly one of:
//   "no s-expression found"
//   "unterminated string starting at line {}"
//   "unbalanced s-expression: '(' at line {} is never closed"
//   "trailing content after the root s-expression: {} at line {}"
// (plus "s-expression text too large" for texts of 4 GiB or more, which the node layout cannot
// address).
//
// Node is a cheap handle (one pointer) into a Document; it stays valid while the Document lives,
// also across moves of the Document. The Document is immutable after parsing, so concurrent
// reads are safe. Used by the KiCad importer (kicad.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace altium_codec::sexpr {

namespace detail {
// One node of the flat pre-order array. `text` is null for a list. For an atom, `size` is the
// text length; for a list it is the number of children. `span` is the number of nodes in the
// subtree rooted here (1 for an atom or an empty list), so the next sibling is at this + span.
struct NodeRec {
  const char* text;
  std::uint32_t size;
  std::uint32_t span;
};

struct DocumentStorage {
  std::string text;                 // the source, unless borrowed
  std::deque<std::string> escaped;  // unescaped texts of quoted strings holding escapes
  std::vector<NodeRec> nodes;
};
}  // namespace detail

class Node {
 public:
  explicit Node(const detail::NodeRec* rec) noexcept : rec_(rec) {}

  bool is_list() const noexcept { return rec_->text == nullptr; }
  bool is_atom() const noexcept { return rec_->text != nullptr; }
  // The atom's text; empty for a list.
  std::string_view text() const noexcept {
    return is_atom() ? std::string_view(rec_->text, rec_->size) : std::string_view();
  }
  // Number of children of a list; 0 for an atom.
  std::size_t size() const noexcept { return is_list() ? rec_->size : 0; }

  // For a list whose first element is an atom, that atom's text.
  std::optional<std::string_view> head() const noexcept;
  // For a list, its first child list whose head equals `head` exactly.
  std::optional<Node> child(std::string_view head) const noexcept;
  // For a list, the text of the child at `index` when that child is an atom (0 is the head).
  std::optional<std::string_view> atom(std::size_t index) const noexcept;
  // All lists in the subtree (this node included) whose head equals `head`, in pre-order.
  std::vector<Node> lists(std::string_view head) const;
  // Every child after the head that is an atom parsing as a floating-point number, in order.
  std::vector<double> numbers() const;
  // The k-th (0-based) of numbers(), without building the sequence.
  std::optional<double> number(std::size_t k) const noexcept;

  // Calls f(Node) for every list of lists(head), without building the sequence.
  template <class F>
  void for_each_list(std::string_view head, F&& f) const {
    const detail::NodeRec* end = rec_ + rec_->span;
    for (const detail::NodeRec* p = rec_; p != end; ++p) {
      if (p->text == nullptr && p->size != 0 && p[1].text != nullptr &&
          std::string_view(p[1].text, p[1].size) == head) {
        f(Node(p));
      }
    }
  }

  // Iteration over the children of a list (empty for an atom).
  class Iterator {
   public:
    explicit Iterator(const detail::NodeRec* p) noexcept : p_(p) {}
    Node operator*() const noexcept { return Node(p_); }
    Iterator& operator++() noexcept {
      p_ += p_->span;
      return *this;
    }
    bool operator==(const Iterator&) const = default;

   private:
    const detail::NodeRec* p_;
  };
  Iterator begin() const noexcept { return Iterator(is_list() ? rec_ + 1 : rec_ + rec_->span); }
  Iterator end() const noexcept { return Iterator(rec_ + rec_->span); }

 private:
  const detail::NodeRec* rec_;
};

class Document;
namespace detail {
std::expected<Document, std::string> parse_into(std::unique_ptr<DocumentStorage> storage,
                                                std::string_view source);
}  // namespace detail

// A parsed text: owns the source copy and the node array. Move-only.
class Document {
 public:
  Node root() const noexcept { return Node(storage_->nodes.data()); }
  std::size_t node_count() const noexcept { return storage_->nodes.size(); }

 private:
  explicit Document(std::unique_ptr<detail::DocumentStorage> s) : storage_(std::move(s)) {}
  std::unique_ptr<detail::DocumentStorage> storage_;
  friend std::expected<Document, std::string> detail::parse_into(
      std::unique_ptr<detail::DocumentStorage>, std::string_view);
};

// Parses `text`; the root is always a list. Copies the text once.
[[nodiscard]] std::expected<Document, std::string> parse(std::string_view text);
// As above, taking over the caller's buffer instead of copying it.
[[nodiscard]] std::expected<Document, std::string> parse_owned(std::string&& text);
// As above without any copy: atoms view `text`, which must outlive the Document.
[[nodiscard]] std::expected<Document, std::string> parse_borrowed(std::string_view text);

// Parses an atom text as a floating-point number: optional sign, then digits with an optional
// fraction and exponent, or "inf", "infinity", "nan" in any case. Nothing else (no spaces, no
// hexadecimal). Out-of-range values give an infinity or zero.
std::optional<double> parse_number(std::string_view text) noexcept;

// `text` in double quotes, with backslash escapes for the quote, the backslash and control
// characters (\n, \r, \t, \0, others as \u{hex}); used in error messages.
std::string debug_quote(std::string_view text);

}  // namespace altium_codec::sexpr
