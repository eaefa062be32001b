// The overload set for std::visit over the trees' and the Types' variants:
// `std::visit(Overload{[](const Expr::Int &) {...}, ...}, e.kind)`.
#pragma once

namespace kestal {

template <class... Fs> struct Overload : Fs... {
    using Fs::operator()...;
};
template <class... Fs> Overload(Fs...) -> Overload<Fs...>;

} // namespace kestal
