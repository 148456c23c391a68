#include "native/physics_records.hpp"

#include <cmath>
#include <limits>

#include "native/functions.hpp"

namespace vorn::py {

bool Convert<physics::ExactUnits>::from(PyObject* object, physics::ExactUnits& out) noexcept {
    if (PyFloat_Check(object) && std::isinf(PyFloat_AsDouble(object)) && PyFloat_AsDouble(object) > 0) {
        out = {{}, true};
        return true;
    }
    if (!PyLong_Check(object)) return cannot_convert(object, "int or inf");
    Ref hex = Ref::steal(PyNumber_ToBase(object, 16));
    std::string digits;
    if (!hex || !Convert<std::string>::from(hex.get(), digits)) return false;
    if (digits.starts_with("-")) {
        PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
        return false;
    }
    return guarded(
        [&] {
            physics::ExactUnits units;
            // "0x..." from the last digit up, 16 digits a limb.
            std::size_t bit = 0;
            for (auto digit = digits.rbegin(); digit != digits.rend() - 2; ++digit, bit += 4) {
                const char c = *digit;
                const std::uint64_t value =
                    c <= '9' ? static_cast<std::uint64_t>(c - '0') : static_cast<std::uint64_t>(c - 'a' + 10);
                if (bit % 64 == 0) units.limbs.push_back(0);
                units.limbs.back() |= value << (bit % 64);
            }
            out = std::move(units);
            return true;
        },
        false);
}

PyObject* Convert<physics::ExactUnits>::to(const physics::ExactUnits& value) noexcept {
    if (value.infinite) return PyFloat_FromDouble(std::numeric_limits<double>::infinity());
    return guarded(
        [&] {
            static constexpr char kDigits[] = "0123456789abcdef";
            std::string hex = "0";
            for (auto limb = value.limbs.rbegin(); limb != value.limbs.rend(); ++limb)
                for (int shift = 60; shift >= 0; shift -= 4) hex += kDigits[(*limb >> shift) & 0xF];
            return PyLong_FromString(hex.c_str(), nullptr, 16);
        },
        static_cast<PyObject*>(nullptr));
}

PyTypeObject* Bound<physics::PhysicalModel>::type() noexcept {
    return lazy_type<physics::PhysicalModel>([](auto& table) {
        table.template described_constructor<&physics::check_model>()
            .described_fields()
            .described_equality()
            .described_repr()
            .frozen()
            .summary(
                "The parameters of the physical model, each with its unit; every trial of an ensemble uses "
                "the same ones. Values out of range are refused with a ValueError naming the parameter and the "
                "value.");
    });
}

PyTypeObject* Bound<physics::HopReport>::type() noexcept {
    return lazy_type<physics::HopReport>([](auto& table) {
        table.described_constructor().described_fields().described_equality().described_repr().frozen().summary(
            "One link of a route as the model sees it.");
    });
}

PyTypeObject* Bound<physics::RouteReport>::type() noexcept {
    return lazy_type<physics::RouteReport>([](auto& table) {
        table.described_constructor().described_fields().described_equality().described_repr().frozen().summary(
            "The path that route finding picks (empty when there is none) and the model's figures for its links.");
    });
}

PyTypeObject* Bound<physics::EnsembleReport>::type() noexcept {
    return lazy_type<physics::EnsembleReport>([](auto& table) {
        table.described_constructor()
            .described_fields()
            .described_equality()
            .described_repr()
            .frozen()
            .subclassable()
            .summary("The exact totals of an ensemble of the physical model, so that ensembles merge bit for bit.");
    });
}

PyTypeObject* Bound<physics::NetworkDemand>::type() noexcept {
    return lazy_type<physics::NetworkDemand>([](auto& table) {
        table.template described_constructor<&physics::check_demand>()
            .described_fields()
            .described_equality()
            .described_repr()
            .frozen()
            .summary(
                "Pairs wanted between two nodes: always (arrival_rate_hz None) or per request of a Poisson process "
                "of that rate, at most max_outstanding requests in progress at once (None: no bound).");
    });
}

namespace {

// The tallies of one run, as they travel from the processes that ran it.
template <class T>
PyTypeObject* run_type(const char* summary) noexcept {
    return lazy_type<T>([&](auto& table) {
        table.described_constructor().described_fields().described_repr().frozen().summary(summary);
    });
}

// The network model's results, which vorn.physics extends with their tables.
template <class T>
PyTypeObject* result_type(const char* summary) noexcept {
    return lazy_type<T>([&](auto& table) {
        table.described_constructor()
            .described_fields()
            .described_equality()
            .described_repr()
            .frozen()
            .subclassable()
            .summary(summary);
    });
}

}  // namespace

PyTypeObject* Bound<physics::DemandTally>::type() noexcept {
    return run_type<physics::DemandTally>("One demand in one run of the network model.");
}

PyTypeObject* Bound<physics::LinkTally>::type() noexcept {
    return run_type<physics::LinkTally>("One link in one run of the network model.");
}

PyTypeObject* Bound<physics::NodeTally>::type() noexcept {
    return run_type<physics::NodeTally>("One node in one run of the network model.");
}

PyTypeObject* Bound<physics::NetworkOutcome>::type() noexcept {
    return run_type<physics::NetworkOutcome>("The tallies of one run of the network model.");
}

PyTypeObject* Bound<physics::NetworkRuns>::type() noexcept {
    return run_type<physics::NetworkRuns>(
        "Runs of the network model and where their tallies belong; runs over consecutive seeds join into one.");
}

PyTypeObject* Bound<physics::DemandReport>::type() noexcept {
    return result_type<physics::DemandReport>("What one demand got over the runs of the network model.");
}

PyTypeObject* Bound<physics::LinkReport>::type() noexcept {
    return result_type<physics::LinkReport>("One link's use over the runs: time attempting and its pairs by fate.");
}

PyTypeObject* Bound<physics::NodeReport>::type() noexcept {
    return result_type<physics::NodeReport>("One node's memories over the runs: in use on average and at most.");
}

PyTypeObject* Bound<physics::NetworkReport>::type() noexcept {
    return result_type<physics::NetworkReport>(
        "The network model's results over its runs: per demand, per link on some route and per node, the "
        "fairness of the throughputs, and the account of every pair the links made, which balances exactly: "
        "generated = used + discarded + lost + held.");
}

}  // namespace vorn::py
