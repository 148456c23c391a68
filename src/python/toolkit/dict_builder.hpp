// Building a Python dict with keys in a fixed order from C++ values.
#pragma once

#include "python/toolkit/convert.hpp"

namespace vorn::py {

class DictBuilder {
public:
    DictBuilder() : dict_(Ref::steal(PyDict_New())) {
        if (!dict_) throw ErrorAlreadySet{};
    }

    template <class V>
    DictBuilder& set(const char* key, const V& value) {
        Ref item = Ref::steal(to_python(value));
        Ref name = Ref::steal(PyUnicode_FromString(key));
        if (!item || !name || !set_dict_item(dict_.get(), name.get(), item.get())) throw ErrorAlreadySet{};
        return *this;
    }

    Ref take() { return std::move(dict_); }

private:
    Ref dict_;
};

}  // namespace vorn::py
