// The overload set for std::visit over the trees' and the Types' variants:
// `std::visit(Overload{[](const Expr::Int &) {...}, ...}, e.kind)`.
//
// Visits over the trees list every kind and never end in a catch-all arm, so
// a new kind stops the build until each visit decides what it means. Kinds
// that share one answer are named together with `OneOf`:
// `[](const OneOf<Expr::Int, Expr::Float> auto &) { return false; }`.
#pragma once

#include <concepts>
#include <type_traits>

namespace kestal {

template <class... Fs> struct Overload : Fs... { using Fs::operator()...; };
template <class... Fs> Overload(Fs...) -> Overload<Fs...>;

// True when T (without const and reference) is one of Ks.
template <class T, class... Ks>
concept OneOf = (std::same_as<std::remove_cvref_t<T>, Ks> || ...);

} // namespace kestal
