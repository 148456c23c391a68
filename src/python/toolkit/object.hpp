// The layout of an instance of a bound class: the Python header, a borrow flag, the C++ value.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "python/toolkit/errors.hpp"
#include "python/toolkit/python.hpp"

namespace vorn::py {

// Each C++ type exposed as a Python class specialises this with its lazily built type object:
//   static PyTypeObject* type() noexcept;   // nullptr with an error set on failure
template <class T>
struct Bound;

template <class T>
concept BoundClass = requires { Bound<T>::type(); };

// Shared holds are counted; an exclusive hold is -1.
struct BorrowFlag {
    long holds = 0;
};

// What the interpreter's object allocators guarantee on every platform it supports: 16 bytes on
// 64-bit builds (the small-object allocator's unit and the collector's header), 8 on 32-bit ones.
inline constexpr std::size_t instance_alignment = 2 * sizeof(void*);

template <class T>
struct Object {
    static_assert(alignof(T) <= instance_alignment,
                  "an over-aligned type cannot live inside a Python instance; hold it through a pointer");
    PyObject_HEAD BorrowFlag borrow;
    T value;
};

template <class T>
Object<T>* object_of(PyObject* self) noexcept {
    return reinterpret_cast<Object<T>*>(self);
}

// A call claims the objects it holds before converting its arguments, and takes the holds only after:
// a conversion may run Python code, and with it other threads' calls, which must not meet this call's
// holds; the converting thread itself, though, coming back to a claimed object from inside the conversion
// (a sequence whose iteration calls the same method), meets it as held. So a claim is seen by the thread
// that made it alone, and the count on the object by every thread.
struct Claim {
    BorrowFlag* flag = nullptr;
    bool exclusive = false;
    Claim* next = nullptr;
};
// Whether this thread claims `flag` in a way that collides with a claim of the given kind.
bool claimed_by_this_thread(const BorrowFlag& flag, bool exclusive) noexcept;
// A claim joins this thread's claims while it lasts; claims end in any order (a call's arguments end
// with their tuple).
void add_claim(Claim& claim) noexcept;
void remove_claim(Claim& claim) noexcept;

// Holds one instance shared or exclusively for the length of one call.
template <bool Exclusive>
class Hold {
public:
    Hold() noexcept = default;
    // Takes the hold, or throws ErrorAlreadySet with the collision's RuntimeError set.
    explicit Hold(BorrowFlag& flag) {
        if (!acquire(flag)) throw ErrorAlreadySet{};
    }
    ~Hold() { release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

    // Claims the instance for this thread. On a collision with a hold or with a claim of this thread,
    // sets RuntimeError "Already borrowed" (an exclusive hold was wanted) or "Already mutably borrowed"
    // (a shared one was) and returns false.
    bool claim(BorrowFlag& flag) noexcept {
        if ((Exclusive ? flag.holds != 0 : flag.holds < 0) || claimed_by_this_thread(flag, Exclusive)) return collide();
        claim_ = {&flag, Exclusive, nullptr};
        add_claim(claim_);
        return true;
    }
    // Takes the claimed hold; false, with the error set, on a collision.
    bool take() noexcept {
        long& holds = claim_.flag->holds;
        if (Exclusive ? holds != 0 : holds < 0) return collide();
        holds = Exclusive ? -1 : holds + 1;
        taken_ = true;
        return true;
    }
    bool acquire(BorrowFlag& flag) noexcept { return claim(flag) && take(); }

    // Ends the hold and the claim, as the destructor does.
    void release() noexcept {
        if (!claim_.flag) return;
        if (taken_) {
            long& holds = claim_.flag->holds;
            holds = Exclusive ? 0 : holds - 1;
            taken_ = false;
        }
        remove_claim(claim_);
        claim_ = {};
    }

private:
    static bool collide() noexcept {
        PyErr_SetString(PyExc_RuntimeError, Exclusive ? "Already borrowed" : "Already mutably borrowed");
        return false;
    }
    Claim claim_;
    bool taken_ = false;
};
using SharedHold = Hold<false>;
using ExclusiveHold = Hold<true>;

// Takes a claimed hold for one scope, at whose end the hold and the claim end.
template <bool Exclusive>
class Taken {
public:
    explicit Taken(Hold<Exclusive>& hold) : hold_(hold) {
        if (!hold.take()) throw ErrorAlreadySet{};
    }
    ~Taken() { hold_.release(); }
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;

private:
    Hold<Exclusive>& hold_;
};

// Gives back the memory of an instance whose value is gone (or was never built).
inline void free_instance(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    if (PyType_GetFlags(type) & Py_TPFLAGS_HAVE_GC) PyObject_GC_UnTrack(self);
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

// A new instance of `type` holding `value`; nullptr with an error set on failure.
template <class T>
PyObject* make_instance(PyTypeObject* type, T value) noexcept {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    try {
        auto* object = object_of<T>(self);
        object->borrow = BorrowFlag{};
        new (&object->value) T(std::move(value));
        return self;
    } catch (...) {
        free_instance(self);
        translate_current_exception();
        return nullptr;
    }
}

// T's type object for a value the library hands out; a type that cannot be built is an
// internal failure at that point.
template <BoundClass T>
PyTypeObject* class_type() noexcept {
    PyTypeObject* type = Bound<T>::type();
    if (!type) {
        PyErr_Print();
        raise_panic(std::string("failed to create type object for ") + Bound<T>::name);
    }
    return type;
}

template <BoundClass T>
PyObject* make_instance(T value) noexcept {
    PyTypeObject* type = class_type<T>();
    return type ? make_instance<T>(type, std::move(value)) : nullptr;
}

// The instance's end: untracked from the collector first, so that nothing released by ~T can
// reach a half-destroyed object.
template <class T>
void destroy_instance(PyObject* self) noexcept {
    if (PyType_GetFlags(Py_TYPE(self)) & Py_TPFLAGS_HAVE_GC) PyObject_GC_UnTrack(self);
    object_of<T>(self)->value.~T();
    free_instance(self);
}

}  // namespace vorn::py
