// The overload set for std::visit over the tree's and the Type's variants:
// `std::visit(Overload{[](const Expr::Int &) {...}, ...}, e.kind)`.
#pragma once

namespace kestal {

template <class... Fs> struct Overload : Fs... {
    using Fs::operator()...;
};
template <class... Fs> Overload(Fs...) -> Overload<Fs...>;

} // namespace kestal
