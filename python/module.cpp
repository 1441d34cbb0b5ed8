// The Python module: results of the reentrant C++ interface as Python objects. Every parse runs
// with the interpreter lock released. A Result is shared by the cue lists, cues and iterators
// made from it, so none of them can outlive the memory they read.
#include "files.hpp"
#include "pool.hpp"

#include <cuekit.hpp>
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace pyb = pybind11;
using cuekit::py::FileParse;

namespace {

using ResultPtr = std::shared_ptr<cuekit::Result>;

// The module's exception class, created once at import and kept for the life of the process.
PyObject* g_parse_error = nullptr;

pyb::object steal_or_throw(PyObject* o) {
    if (!o) throw pyb::error_already_set();
    return pyb::reinterpret_steal<pyb::object>(o);
}

// Library text is UTF-8 but may keep a few ill-formed sequences; each becomes U+FFFD exactly
// as the JSON document writes it (maximal ill-formed subparts).
pyb::str text(std::string_view s) {
    PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
    if (!o) throw pyb::error_already_set();
    return pyb::reinterpret_steal<pyb::str>(o);
}

void set_error(pyb::handle exception) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
}

[[noreturn]] void raise(pyb::handle exception) {
    set_error(exception);
    throw pyb::error_already_set();
}

// The exception a failed parse stands for: MemoryError for code 4, ParseError otherwise.
pyb::object parse_failure(int code, std::string_view message) {
    if (code == 4) return steal_or_throw(PyObject_CallFunctionObjArgs(PyExc_MemoryError, text(message).ptr(), nullptr));
    return pyb::handle(g_parse_error)(code, text(message));
}

// A Result object, or the exception instance that describes why there is none.
pyb::object outcome(FileParse&& fp, pyb::handle filename) {
    if (fp.no_memory) return steal_or_throw(PyObject_CallFunction(PyExc_MemoryError, "s", "out of memory"));
    if (fp.sys_error != 0) {
        // OSError picks the subclass from the errno: FileNotFoundError, IsADirectoryError, ...
        return steal_or_throw(PyObject_CallFunction(PyExc_OSError, "isO", fp.sys_error, fp.sys_message.c_str(), filename.ptr()));
    }
    if (!fp.result) return parse_failure(fp.result.code(), fp.result.error());
    return pyb::cast(std::make_shared<cuekit::Result>(std::move(fp.result)));
}

struct Options {
    cuekit::Format format = cuekit::Format::Auto;
    std::string encoding; // empty: detect

    const char* encoding_or_null() const { return encoding.empty() ? nullptr : encoding.c_str(); }
};

cuekit::Format format_from_name(const char* name) {
    const int id = sub_format_from_name(name);
    if (id != SUB_FORMAT_UNKNOWN) return static_cast<cuekit::Format>(id);
    std::string known = "auto";
    for (int i = 0; i < SUB_FORMAT_COUNT; ++i) known.append(", ").append(sub_format_name(i));
    throw pyb::value_error("unknown format name '" + std::string(name) + "' (known: " + known + ")");
}

// Unlike the tool, an unknown format name is an error: a typo must not silently mean auto.
Options options(const char* format, const char* encoding) {
    Options o;
    if (format) o.format = format_from_name(format);
    if (encoding) o.encoding = encoding;
    return o;
}

// The file-system bytes of a path (str, bytes or os.PathLike), and the object to name it by
// in an OSError.
std::pair<std::string, pyb::object> fs_path(pyb::handle path) {
    pyb::object name = steal_or_throw(PyOS_FSPath(path.ptr()));
    PyObject* raw = nullptr;
    if (!PyUnicode_FSConverter(name.ptr(), &raw)) throw pyb::error_already_set(); // also refuses NUL
    const pyb::object bytes = pyb::reinterpret_steal<pyb::object>(raw);
    return {std::string(PyBytes_AS_STRING(raw), static_cast<std::size_t>(PyBytes_GET_SIZE(raw))), std::move(name)};
}

// ---- cues ---------------------------------------------------------------------------------

struct Danmaku {
    int32_t mode;
    uint32_t color;
    double fontsize;
    bool operator==(const Danmaku&) const = default;
};

struct Cue {
    ResultPtr owner;
    std::size_t index;
    cuekit::CueRef ref() const { return (*owner)[index]; }
};

pyb::list lines(cuekit::CueRef c) {
    pyb::list out(c.line_count());
    for (std::size_t j = 0; j < c.line_count(); ++j) PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(j), text(c.line(j)).release().ptr());
    return out;
}

std::string joined(cuekit::CueRef c) {
    std::string s;
    for (std::size_t j = 0; j < c.line_count(); ++j) {
        if (j) s += '\n';
        s += c.line(j);
    }
    return s;
}

std::optional<Danmaku> danmaku(cuekit::CueRef c) {
    if (!c.is_danmu()) return std::nullopt;
    return Danmaku{c.mode(), c.color(), static_cast<double>(c.fontsize())};
}

bool same_cue(cuekit::CueRef a, cuekit::CueRef b) {
    if (a.start_ms() != b.start_ms() || a.end_ms() != b.end_ms() || danmaku(a) != danmaku(b)) return false;
    return a.line_count() == b.line_count() && std::ranges::equal(a.lines(), b.lines());
}

// One cue as the JSON document writes it.
pyb::dict cue_dict(cuekit::CueRef c) {
    pyb::dict d;
    d["start"] = c.start_ms();
    d["end"] = c.end_ms();
    d["lines"] = lines(c);
    if (c.is_danmu()) {
        d["danmu"] = true;
        d["mode"] = c.mode();
        d["color"] = c.color();
        d["fontsize"] = static_cast<double>(c.fontsize());
    }
    return d;
}

struct CueList {
    ResultPtr owner;
    std::size_t size() const { return owner->size(); }
};

struct CueIterator {
    ResultPtr owner;
    std::size_t next = 0;
};

// The write targets' names, "srt, vtt, ... or json".
std::string target_list() {
    std::string list;
    const int n = sub_target_count();
    for (int t = 0; t < n; ++t) list.append(t == 0 ? "" : t + 1 == n ? " or " : ", ").append(sub_target_name(t));
    return list;
}

std::size_t checked_index(Py_ssize_t i, std::size_t size) {
    const auto n = static_cast<Py_ssize_t>(size);
    if (i < 0) i += n;
    if (i < 0 || i >= n) throw pyb::index_error("cue index out of range");
    return static_cast<std::size_t>(i);
}

// ---- parse_many ---------------------------------------------------------------------------

// The generator of parse_many: paths are taken from the iterable only as far as the look-ahead
// window reaches, so memory stays bounded whatever the number of paths.
class ParseMany {
public:
    ParseMany(pyb::iterator paths, unsigned jobs, const Options& o)
        : paths_(std::move(paths)), window_(4 * static_cast<std::size_t>(jobs)),
          pool_(std::make_unique<cuekit::py::Pool>(jobs, o.format, o.encoding)) {}

    pyb::tuple next() {
        const Running running(*this);
        fill();
        if (slots_.empty()) {
            finish();
            throw pyb::stop_iteration();
        }
        Slot slot = std::move(slots_.front());
        slots_.pop_front();
        if (slot.error) raise(slot.error);
        // Waiting in slices keeps Ctrl-C working while a large file is parsed.
        while (true) {
            bool done = false;
            {
                const pyb::gil_scoped_release nogil;
                done = pool_->wait(*slot.job, std::chrono::milliseconds(100));
            }
            if (done) break;
            if (PyErr_CheckSignals() != 0) throw pyb::error_already_set();
        }
        return pyb::make_tuple(slot.path, outcome(std::move(slot.job->out), slot.name));
    }

    void close() {
        const Running running(*this);
        finish();
    }

private:
    struct Slot {
        pyb::object path;  // as the caller gave it
        pyb::object name;  // as an OSError names it
        std::shared_ptr<cuekit::py::Job> job;
        pyb::object error; // raised when the consumer gets here
    };

    // Python generators refuse to be re-entered from another thread; so does this one, since a
    // second caller could otherwise close the pool under the first one's wait.
    class Running {
    public:
        explicit Running(ParseMany& g) : g_(g) {
            if (g_.running_) throw pyb::value_error("parse_many: generator already executing");
            g_.running_ = true;
        }
        ~Running() { g_.running_ = false; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        ParseMany& g_;
    };

    static pyb::object fetch_error() {
        PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
        PyErr_Fetch(&type, &value, &trace);
        PyErr_NormalizeException(&type, &value, &trace);
        if (trace) PyException_SetTraceback(value, trace);
        Py_XDECREF(type);
        Py_XDECREF(trace);
        return pyb::reinterpret_steal<pyb::object>(value);
    }

    void fill() {
        while (pool_ && !exhausted_ && slots_.size() < window_) {
            PyObject* item = PyIter_Next(paths_.ptr());
            if (!item) {
                exhausted_ = true;
                if (PyErr_Occurred()) slots_.push_back({pyb::none(), pyb::none(), nullptr, fetch_error()});
                return;
            }
            Slot slot{pyb::reinterpret_steal<pyb::object>(item), pyb::none(), nullptr, pyb::object()};
            try {
                auto [bytes, name] = fs_path(slot.path);
                slot.name = std::move(name);
                slot.job = pool_->submit(std::move(bytes));
            } catch (pyb::error_already_set& e) {
                e.restore();
                slot.error = fetch_error();
                exhausted_ = true; // a generator that raised is finished
            }
            slots_.push_back(std::move(slot));
        }
    }

    void finish() {
        exhausted_ = true;
        slots_.clear();
        if (pool_) {
            const pyb::gil_scoped_release nogil;
            pool_.reset();
        }
    }

    pyb::iterator paths_;
    std::size_t window_;
    std::unique_ptr<cuekit::py::Pool> pool_;
    std::deque<Slot> slots_;
    bool exhausted_ = false;
    bool running_ = false;
};

// ---- the module's functions ---------------------------------------------------------------
// Plain CPython functions rather than pybind11 ones: a failed parse sets its exception and
// returns, where a C++ exception through pybind11 would cost more than the parse itself.
// Nothing may leave them as a C++ exception.

// The handlers only call CPython and pybind11's restore, none of which throws.
template <class Body>
PyObject* guarded(Body&& body) noexcept { // NOLINT(bugprone-exception-escape)
    try {
        return body();
    } catch (pyb::error_already_set& e) {
        e.restore();
    } catch (const pyb::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected C++ exception");
    }
    return nullptr;
}

// The Result, or nullptr with the exception `value` set.
PyObject* result_or_raise(pyb::object value) {
    if (PyExceptionInstance_Check(value.ptr())) {
        set_error(value);
        return nullptr;
    }
    return value.release().ptr();
}

// The arguments (first, format=None, encoding=None) of parse and parse_file.
struct Call {
    PyObject* first = nullptr;
    const char* format = nullptr;
    const char* encoding = nullptr;
};

bool unpack(PyObject* args, PyObject* kwargs, const char* layout, const char* first, Call& c) {
    const char* keywords[] = {first, "format", "encoding", nullptr};
    return PyArg_ParseTupleAndKeywords(args, kwargs, layout, const_cast<char**>(keywords), &c.first, &c.format, &c.encoding) != 0;
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) {
    Call c;
    if (!unpack(args, kwargs, "S|zz:parse", "data", c)) return nullptr;
    return guarded([&] {
        const Options o = options(c.format, c.encoding);
        PyObject* data = c.first;
        const std::string_view bytes(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        FileParse fp;
        {
            const pyb::gil_scoped_release nogil; // bytes are immutable: nobody can change them meanwhile
            fp.result = cuekit::parse(bytes, o.format, o.encoding_or_null());
        }
        return result_or_raise(outcome(std::move(fp), pyb::none()));
    });
}

PyObject* parse_file(PyObject*, PyObject* args, PyObject* kwargs) {
    Call c;
    if (!unpack(args, kwargs, "O|zz:parse_file", "path", c)) return nullptr;
    return guarded([&] {
        const Options o = options(c.format, c.encoding);
        auto [bytes, name] = fs_path(c.first);
        FileParse fp;
        {
            const pyb::gil_scoped_release nogil;
            thread_local host::FileBytes file(false); // its read buffer serves the thread's next file
            fp = cuekit::py::parse_path(bytes, o.format, o.encoding_or_null(), file);
        }
        return result_or_raise(outcome(std::move(fp), name));
    });
}

PyObject* detect_format(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"data", "filename", nullptr};
    PyObject* data = nullptr;
    PyObject* filename = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "S|O:detect_format", const_cast<char**>(keywords), &data, &filename))
        return nullptr;
    return guarded([&] {
        std::string name;
        if (filename != Py_None) name = fs_path(filename).first;
        const std::string_view bytes(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        const cuekit::Format f = cuekit::detect_format(bytes, filename != Py_None ? name.c_str() : nullptr);
        if (f == cuekit::Format::Auto) Py_RETURN_NONE;
        return text(sub_format_name(static_cast<int>(f))).release().ptr();
    });
}

PyObject* parse_many(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"paths", "jobs", "format", "encoding", nullptr};
    PyObject* paths = nullptr;
    PyObject* jobs = Py_None;
    const char* format = nullptr;
    const char* encoding = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|Ozz:parse_many", const_cast<char**>(keywords), &paths, &jobs, &format,
                                     &encoding))
        return nullptr;
    return guarded([&] {
        if (PyUnicode_Check(paths) || PyBytes_Check(paths) || PyObject_HasAttrString(paths, "__fspath__"))
            throw pyb::type_error("parse_many takes an iterable of paths, not one path");
        unsigned n = std::max(1u, std::thread::hardware_concurrency());
        if (jobs != Py_None) {
            if (!PyLong_Check(jobs)) throw pyb::type_error("jobs must be an int or None");
            const long j = PyLong_AsLong(jobs);
            if (j == -1 && PyErr_Occurred()) throw pyb::error_already_set();
            if (j < 1 || j > 1024) throw pyb::value_error("jobs must be between 1 and 1024");
            n = static_cast<unsigned>(j);
        }
        const Options o = options(format, encoding);
        return pyb::cast(ParseMany(pyb::iter(pyb::handle(paths)), n, o)).release().ptr();
    });
}

// ---- documentation --------------------------------------------------------------------------

constexpr const char* kModuleDoc = R"doc(Reads subtitle, lyrics and danmaku files into timed cues.

Eleven formats (SubRip, WebVTT, ASS/SSA, MicroDVD, SubViewer, TTML, YouTube timed
text, LRC, SAMI, Bilibili XML, AcFun JSON) in any common text encoding become one
list of cues: start and end in milliseconds, text lines, and for danmaku a display
mode, colour and font size.

    >>> import cuekit
    >>> r = cuekit.parse_file("episode.srt")
    >>> r.format, len(r.cues), r.cues[0].start, r.cues[0].text

Every parse runs with the interpreter lock released, so Python threads parse in
parallel; parse_many parses a sequence of files on native threads.)doc";

constexpr const char* kFormatArgs = R"doc(format   None or "auto" to detect the format, or one of the tool's names: srt,
         vtt, ass, ssa, microdvd, subviewer, ttml, ytxml, lrc, sami, smi,
         bilibili, acfun. An unknown name raises ValueError.
encoding None to detect the encoding (a byte-order mark, else UTF-8, else
         CP1252), or a name iconv knows: "cp1251", "gbk", "shift_jis", ...
)doc";

// Each function's docstring opens with its signature in the form help() and inspect read.
constexpr const char* kParseHead = R"doc(parse($module, /, data, format=None, encoding=None)
--

Parses the bytes of one whole subtitle, lyrics or danmaku file; returns a Result.

data     bytes (anything else raises TypeError)
)doc";
constexpr const char* kParseTail = R"doc(
Raises ParseError (with .code and .message) when nothing usable was found, and
MemoryError when memory ran out.)doc";

constexpr const char* kParseFileHead = R"doc(parse_file($module, /, path, format=None, encoding=None)
--

Reads and parses one file; returns a Result.

path     str, bytes or os.PathLike. Without a format, the content decides, and
         the file name's extension when the content says nothing (as the
         cuekit tool does).
)doc";
constexpr const char* kParseFileTail = R"doc(
Raises ParseError or MemoryError as parse does, and OSError when the file cannot
be read: FileNotFoundError, IsADirectoryError, PermissionError, ...; a file of
2 GiB or more raises OSError with errno EFBIG.)doc";

constexpr const char* kParseManyDoc = R"doc(parse_many($module, /, paths, jobs=None, format=None, encoding=None)
--

Parses many files on native threads; a generator of (path, outcome) pairs.

paths    an iterable of paths (str, bytes, os.PathLike), read lazily
jobs     the number of threads (default: one per core)
format, encoding: as in parse_file, for every file

The pairs come in input order. The outcome is the Result, or the exception
parse_file would have raised (ParseError, OSError, MemoryError): one bad file
does not stop the others. Paths are taken from the iterable only a few files
ahead of the consumer, so any number of paths runs in bounded memory. An item
that is not a path (TypeError), or an error raised by the iterable, ends the
generator with that exception after the files before it.)doc";

constexpr const char* kDetectDoc = R"doc(detect_format($module, /, data, filename=None)
--

The name of the format parse would read `data` (bytes) as, or None when neither
the content nor the file name's extension tells. With empty data, the extension
alone decides: detect_format(b"", "a.srt") == "srt".)doc";

constexpr const char* kParseErrorSource = R"doc(
class ParseError(Exception):
    """A file could not be parsed.

    code    1 unknown format, 2 the encoding could not be converted, 3 empty
            input, 5 nothing usable found (out of memory raises MemoryError)
    message the library's reason
    """

    def __init__(self, code, message):
        super().__init__(code, message)
        self.code = code
        self.message = message

    def __str__(self):
        return f"parse error {self.code}: {self.message}"
)doc";

} // namespace

PYBIND11_MODULE(cuekit, m) {
    pyb::options docs;
    docs.disable_function_signatures(); // each docstring states its signature in Python terms
    m.doc() = kModuleDoc;
    m.attr("__version__") = CUEKIT_VERSION_STRING;
    pyb::list targets;
    for (int t = 0; t < sub_target_count(); ++t) targets.append(sub_target_name(t));
    m.attr("TARGETS") = pyb::tuple(targets);

    pyb::dict scope;
    scope["__name__"] = "cuekit";
    scope["__builtins__"] = pyb::module_::import("builtins");
    pyb::exec(kParseErrorSource, scope);
    g_parse_error = scope["ParseError"].ptr();
    Py_INCREF(g_parse_error); // the module's lifetime is the process's
    m.attr("ParseError") = scope["ParseError"];

    pyb::class_<Danmaku>(m, "Danmaku", "The style of a danmaku cue: display mode, colour (0xRRGGBB) and font size.")
        .def_readonly("mode", &Danmaku::mode, "Display mode: 1-3 scrolling, 4 bottom, 5 top, ...")
        .def_readonly("color", &Danmaku::color, "Colour as an integer 0xRRGGBB.")
        .def_readonly("fontsize", &Danmaku::fontsize, "Font size.")
        .def("__eq__", [](const Danmaku& a, const Danmaku& b) { return a == b; }, pyb::is_operator())
        .def("__repr__", [](const Danmaku& d) {
            return "Danmaku(mode=" + std::to_string(d.mode) + ", color=" + std::to_string(d.color) +
                   ", fontsize=" + pyb::repr(pyb::float_(d.fontsize)).cast<std::string>() + ")";
        });

    pyb::class_<Cue>(m, "Cue", "One timed cue of a Result.")
        .def_property_readonly("start", [](const Cue& c) { return c.ref().start_ms(); }, "Start time in milliseconds.")
        .def_property_readonly("end", [](const Cue& c) { return c.ref().end_ms(); }, "End time in milliseconds.")
        .def_property_readonly("lines", [](const Cue& c) { return lines(c.ref()); }, "The text lines (list of str).")
        .def_property_readonly("text", [](const Cue& c) { return text(joined(c.ref())); }, "The lines joined with \"\\n\".")
        .def_property_readonly("danmaku", [](const Cue& c) { return danmaku(c.ref()); },
                               "None, or the Danmaku style of a danmaku cue.")
        .def("__eq__", [](const Cue& a, const Cue& b) { return same_cue(a.ref(), b.ref()); }, pyb::is_operator())
        .def("__repr__", [](const Cue& c) {
            std::string s = "Cue(start=" + std::to_string(c.ref().start_ms()) + ", end=" + std::to_string(c.ref().end_ms()) +
                            ", lines=" + pyb::repr(lines(c.ref())).cast<std::string>();
            if (const auto d = danmaku(c.ref())) s += ", danmaku=" + pyb::repr(pyb::cast(*d)).cast<std::string>();
            return s + ")";
        });

    pyb::class_<CueIterator>(m, "CueIterator")
        .def("__iter__", [](pyb::object self) { return self; })
        .def("__next__", [](CueIterator& it) {
            if (it.next >= it.owner->size()) throw pyb::stop_iteration();
            return Cue{it.owner, it.next++};
        });

    pyb::class_<CueList>(m, "CueList", "The cues of a Result: a read-only sequence of Cue.")
        .def("__len__", &CueList::size)
        .def("__getitem__", [](const CueList& l, const pyb::int_& i) {
            // An index past any size is out of range, as in a list, not a failed conversion.
            const Py_ssize_t k = PyNumber_AsSsize_t(i.ptr(), PyExc_IndexError);
            if (k == -1 && PyErr_Occurred()) throw pyb::error_already_set();
            return Cue{l.owner, checked_index(k, l.size())};
        })
        .def("__getitem__", [](const CueList& l, const pyb::slice& s) {
            Py_ssize_t start = 0, stop = 0, step = 0, n = 0;
            if (!s.compute(static_cast<Py_ssize_t>(l.size()), &start, &stop, &step, &n)) throw pyb::error_already_set();
            pyb::list out(static_cast<std::size_t>(n));
            for (Py_ssize_t k = 0; k < n; ++k, start += step)
                PyList_SET_ITEM(out.ptr(), k, pyb::cast(Cue{l.owner, static_cast<std::size_t>(start)}).release().ptr());
            return out;
        })
        .def("__iter__", [](const CueList& l) { return CueIterator{l.owner}; })
        .def("__repr__", [](const CueList& l) { return "<cuekit.CueList of " + std::to_string(l.size()) + " cues>"; });
    pyb::module_::import("collections.abc").attr("Sequence").attr("register")(m.attr("CueList"));

    pyb::class_<cuekit::Result, ResultPtr>(m, "Result", "What one successful parse produced.")
        .def_property_readonly("format", [](const cuekit::Result& r) { return text(r.format_name()); },
                               "The format's name: srt, vtt, ass, microdvd, subviewer, ttml, ytxml, lrc, sami, bilibili or acfun.")
        .def_property_readonly("cues", [](const ResultPtr& r) { return CueList{r}; }, "The cues, a sequence of Cue.")
        .def_property_readonly("warnings", [](const cuekit::Result& r) {
            pyb::list out;
            for (const std::string_view w : r.warnings()) out.append(text(w));
            return out;
        }, "What the parse recovered from, as the tool prints after \"warning: \" (list of str).")
        .def("to_json", [](const cuekit::Result& r) {
            return text(r.json()); // out of memory: std::bad_alloc, MemoryError in Python
        }, "to_json() -> str\n\nThe JSON result document, exactly as `cuekit --json` prints it (without the newline).")
        .def("to_dicts", [](const cuekit::Result& r) {
            pyb::list out(r.size());
            for (std::size_t i = 0; i < r.size(); ++i) PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), cue_dict(r[i]).release().ptr());
            return out;
        }, "to_dicts() -> list[dict]\n\nThe cues as the JSON document has them: json.loads(r.to_json())[\"cues\"].")
        .def("write", [](const cuekit::Result& r, const std::string& target, bool strip, std::pair<int, int> canvas,
                         const std::string& font, double font_scale, double opacity, double scroll_time,
                         double fixed_time, double lanes, bool danmaku_overlap) {
            cuekit::WriteOptions o;
            o.strip = strip;
            o.canvas_width = canvas.first;
            o.canvas_height = canvas.second;
            o.font = font;
            o.font_scale = font_scale;
            o.opacity = opacity;
            o.scroll_time = scroll_time;
            o.fixed_time = fixed_time;
            o.lanes = lanes;
            o.danmaku_overlap = danmaku_overlap;
            std::string out;
            int rc = 0;
            {
                const pyb::gil_scoped_release unlocked;
                rc = r.write_to(target, [&](std::string_view s) { out.append(s); return true; }, o);
            }
            if (rc == SUB_WRITE_NOMEM) throw std::bad_alloc();
            if (rc == SUB_WRITE_OK) return text(out);
            if (const cuekit::OptionProblem p = cuekit::check_options(o))
                throw pyb::value_error(std::string(p.option) + ": " + std::string(p.expected));
            throw pyb::value_error("unknown target " + target + " (" + target_list() + ")");
        }, pyb::arg("target"), pyb::kw_only(), pyb::arg("strip") = false, pyb::arg("canvas") = std::pair<int, int>(1920, 1080),
           pyb::arg("font") = "", pyb::arg("font_scale") = 1.0, pyb::arg("opacity") = 1.0, pyb::arg("scroll_time") = 8.0,
           pyb::arg("fixed_time") = 4.0, pyb::arg("lanes") = 0.8, pyb::arg("danmaku_overlap") = false,
           "write(target, *, strip=False, canvas=(1920, 1080), font='', font_scale=1.0, opacity=1.0,\n"
           "      scroll_time=8.0, fixed_time=4.0, lanes=0.8, danmaku_overlap=False) -> str\n\n"
           "The cues written as target, one of TARGETS (any case; format aliases such as 'ssa' too), as\n"
           "`cuekit --to` writes them. ValueError for an unknown target or an option out of range,\n"
           "naming the option and its range.")
        .def("__repr__", [](const cuekit::Result& r) {
            return "<cuekit.Result format=" + std::string(r.format_name()) + " cues=" + std::to_string(r.size()) +
                   " warnings=" + std::to_string(r.warnings().size()) + ">";
        });

    pyb::class_<ParseMany>(m, "ParseMany", "The generator parse_many returns.")
        .def("__iter__", [](pyb::object self) { return self; })
        .def("__next__", &ParseMany::next)
        .def("close", &ParseMany::close, "close() -> None\n\nStops the threads; further iteration ends at once.");

    static const std::string parse_doc = std::string(kParseHead) + kFormatArgs + kParseTail;
    static const std::string parse_file_doc = std::string(kParseFileHead) + kFormatArgs + kParseFileTail;
    static PyMethodDef functions[] = {
        {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse)), METH_VARARGS | METH_KEYWORDS, parse_doc.c_str()},
        {"parse_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse_file)), METH_VARARGS | METH_KEYWORDS, parse_file_doc.c_str()},
        {"parse_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse_many)), METH_VARARGS | METH_KEYWORDS, kParseManyDoc},
        {"detect_format", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detect_format)), METH_VARARGS | METH_KEYWORDS, kDetectDoc},
        {nullptr, nullptr, 0, nullptr},
    };
    if (PyModule_AddFunctions(m.ptr(), functions) != 0) throw pyb::error_already_set();
}
