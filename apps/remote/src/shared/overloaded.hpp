#pragma once
// One visitor from several lambdas, for std::visit.

namespace remote {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace remote
