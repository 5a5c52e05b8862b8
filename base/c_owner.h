// Ownership of a C library's handle that its library releases with a function of its own.
#pragma once

#include <memory>

namespace px {

template <auto Release>
struct ReleaseWith {
    template <class T>
    void operator()(T* handle) const noexcept
    {
        Release(handle);
    }
};
template <class T, auto Release>
using COwner = std::unique_ptr<T, ReleaseWith<Release>>;

}  // namespace px
