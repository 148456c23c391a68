#include "native/functions.hpp"

#include <optional>
#include <string>
#include <vector>

#include "files/text_file.hpp"
#include "files/vorn_check.hpp"
#include "python/toolkit/callables.hpp"
#include "python/toolkit/dict_builder.hpp"
#include "python/toolkit/interruption.hpp"
#include "python/toolkit/type_text.hpp"

namespace vorn::native {

// A file name as the operating system takes it: str, bytes or os.PathLike, the str encoded as
// os.fsencode does, so that any name the system accepts can be given.
struct FileName {
    std::string bytes;
};

}  // namespace vorn::native

namespace vorn::py {

template <>
struct Convert<native::FileName> {
    static bool from(PyObject* object, native::FileName& out) noexcept {
        PyObject* converted = nullptr;
        if (!PyUnicode_FSConverter(object, &converted)) return false;
        Ref bytes = Ref::steal(converted);
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return false;
        return guarded(
            [&] {
                out.bytes.assign(data, static_cast<std::size_t>(size));
                return true;
            },
            false);
    }
};

template <>
struct TypeText<native::FileName> {
    static std::string read() { return "str | bytes | os.PathLike[str] | os.PathLike[bytes]"; }
    static std::string write() { return read(); }
};

}  // namespace vorn::py

namespace vorn::native {
namespace {

std::optional<std::size_t> position(std::size_t value) {
    return value ? std::optional<std::size_t>(value) : std::nullopt;
}

py::Ref check_vorn_file(FileName path) {
    py::SignalCheck signals;
    const std::vector<files::FileFinding> findings = py::without_lock(files::check_vorn_file, path.bytes, &signals);
    std::vector<py::Ref> entries;
    entries.reserve(findings.size());
    for (const files::FileFinding& finding : findings) {
        if (entries.size() % 4096 == 4095 && PyErr_CheckSignals() != 0) throw py::ErrorAlreadySet{};
        entries.push_back(py::DictBuilder()
                              .set("kind", std::string(finding.kind))
                              .set("code", std::string(finding.code))
                              .set("message", finding.message)
                              .set("line", position(finding.line))
                              .set("column", position(finding.column))
                              .set("path", finding.path.empty() ? std::nullopt : std::optional(finding.path))
                              .set("severity", std::string(finding.severity))
                              .take());
    }
    return py::Ref::steal(py::Convert<std::vector<py::Ref>>::to(entries));
}

std::optional<std::string> file_format(FileName path) {
    py::SignalCheck signals;
    const files::Result<files::FileText> text = files::read_text_file(path.bytes, &signals);
    if (!text) return std::nullopt;
    switch (files::guess_format(text.value(), &signals)) {
        case files::GuessedFormat::Vorn: return "vorn";
        case files::GuessedFormat::Snapshot: return "snapshot";
        case files::GuessedFormat::Unknown: break;
    }
    return std::nullopt;
}

}  // namespace

PyMethodDef check_vorn_file_function() {
    return py::module_function<&check_vorn_file>(
        "check_vorn_file", {"path"},
        "Check a .vorn file as load_vorn_file would, and return what it would refuse as a list of findings,\n"
        "then the figures that no physical reading allows (a negative memory lifetime or capacity, a visibility\n"
        "above 1, ...: code \"ImpossibleFigure\"), which simulations refuse.\n\n"
        "An empty list means the file loads and can be simulated. Each finding is a dict with the keys \"kind\" "
        "(\"io\", \"json\",\n"
        "\"version\" or \"validation\"), \"code\" (for programs: the system's error name such as \"ENOENT\", the\n"
        "reader's problem such as \"MissingKey\" or \"Syntax\", \"UnsupportedVersion\", or the validation error\n"
        "such as \"DuplicateNodeId\" or \"ImpossibleFigure\"), \"message\" (the loader's text for it, without the "
        "file's path and the\n"
        "position), \"line\" and \"column\" (1-based, columns in characters; None when there is no position),\n"
        "\"path\" (the entry concerned, such as \"links[3].from\", or None) and \"severity\" (\"error\" or\n"
        "\"warning\"). Like the loader it stops at the first failing step: a file that cannot be read or\n"
        "parsed, or has another version, gives one finding; validation gives all of its findings, each at\n"
        "the value concerned. path is a str, bytes or os.PathLike.");
}

PyMethodDef file_format_function() {
    return py::module_function<&file_format, py::Lock::released>(
        "file_format", {"path"},
        "Which format a JSON file looks like: \"vorn\" (a .vorn topology file), \"snapshot\" (an engine\n"
        "snapshot written by save_topology) or None (unreadable, not JSON, or neither).\n\n"
        "Decided by the keys the file uses, so a damaged file is still recognised by its first entries.");
}

}  // namespace vorn::native
