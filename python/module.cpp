// The Python module vellisk: the sweep and its inverse, a measurement of a recording in memory,
// and the room's parameters of a response, as numpy arrays and the programs' reports.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "convert.h"
#include "report.h"
#include "spin.h"
#include "vellisk/vellisk.h"

namespace py = pybind11;

namespace vellisk {

namespace {

// compute(), run on a thread of its own with the GIL released while this thread lets Python
// run the signal handlers due every 10 ms. Once one raises (Ctrl-C's KeyboardInterrupt), the
// flag the computation polls between its steps ends it, and what the handler raised is raised
// in place of its result or its failure. Called with the GIL held; where no thread can be
// started, compute() runs here, to its end.
template <class Compute>
auto interruptible(CancelFlag& cancel, Compute compute) -> decltype(compute()) {
  std::optional<decltype(compute())> result;
  std::exception_ptr failure;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  {
    const py::gil_scoped_release free;
    const auto work = [&] {
      try {
        result.emplace(compute());
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> hold(lock);
      done = true;
      finished.notify_one();
    };
    std::thread worker;
    try {
      worker = std::thread(work);
    } catch (const std::system_error&) {
      work();
    }
    std::unique_lock<std::mutex> hold(lock);
    while (!finished.wait_for(hold, std::chrono::milliseconds(10), [&] { return done; })) {
      if (type != nullptr) continue;
      hold.unlock();
      {
        const py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
          PyErr_Fetch(&type, &value, &trace);
          cancel = true;
        }
      }
      hold.lock();
    }
    hold.unlock();
    if (worker.joinable()) worker.join();
  }
  if (type != nullptr) {
    PyErr_Restore(type, value, trace);
    throw py::error_already_set();
  }
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

// What impulse_response returns; the views None unless asked for.
struct PyResponse {
  py::array_t<float> ir;
  py::list harmonics;
  py::list warnings;
  py::object report;
  py::object curves = py::none();
  py::object step = py::none();
  py::object waterfall = py::none();
};

// The name a setting has in the module: its keyword.
const char* keyword_name(Setting setting) {
  switch (setting) {
    case Setting::pre: return "pre";
    case Setting::length: return "length";
    case Setting::harmonics: return "harmonics";
    case Setting::drift: return "drift";
    case Setting::reference: return "reference";
    case Setting::repeat: return "repeat";
    case Setting::smooth: return "smooth";
    case Setting::gate: return "gate";
    case Setting::align: return "align";
    case Setting::waterfall_range: return "waterfall_range";
    case Setting::mic_calibration: return "mic_cal";
    case Setting::spl_calibration: return "spl_cal";
    case Setting::spl_level: return "spl_cal's level";
    case Setting::tail: return "tail";
    case Setting::channels: return "channels";
    case Setting::points: return "points";
    case Setting::playback: return "playback";
    case Setting::capture: return "capture";
  }
  return "setting";
}

// A problem's code as vellisk.Error's code gives it.
const char* code_name(ProblemCode code) {
  switch (code) {
    case ProblemCode::invalid_design: return "invalid_design";
    case ProblemCode::invalid_request: return "invalid_request";
    case ProblemCode::invalid_recording: return "invalid_recording";
    case ProblemCode::unreadable: return "unreadable";
    case ProblemCode::unwritable: return "unwritable";
    case ProblemCode::measurement_failed: return "measurement_failed";
    case ProblemCode::not_finite: return "not_finite";
    case ProblemCode::out_of_memory: return "out_of_memory";
    case ProblemCode::cancelled: return "cancelled";
    case ProblemCode::invalid_input: return "invalid_input";
  }
  return "problem";
}

// vellisk.Error, made when the module is imported.
PyObject* error_type = nullptr;

// Raises the library's problem in Python, worded in the keywords' names: a file that cannot be
// read as OSError, memory the machine does not have as MemoryError, any other problem as
// vellisk.Error (a ValueError) with its code and the keyword whose rule it breaks.
void raise_problem(const Problem& p) {
  const std::string line = describe(p, keyword_name);
  if (p.code == ProblemCode::unreadable) return PyErr_SetString(PyExc_OSError, line.c_str());
  if (p.code == ProblemCode::out_of_memory) return PyErr_SetString(PyExc_MemoryError, line.c_str());
  const py::object error = py::reinterpret_borrow<py::object>(error_type)(line);
  error.attr("code") = code_name(p.code);
  error.attr("setting") = p.setting ? py::object(py::str(keyword_name(*p.setting))) : py::none();
  PyErr_SetObject(error_type, error.ptr());
}

// Refuses a request in the module's own words.
[[noreturn]] void refuse(std::string line, std::optional<Setting> setting = std::nullopt,
                         ProblemCode code = ProblemCode::invalid_request) {
  throw Error(Problem(code, std::move(line), setting));
}

// A keyword's value against its setting's range, as the library judges a value given.
void check_given(Setting setting, double value) {
  if (std::optional<Problem> p = check_setting(setting, value)) throw Error(*p);
}

int threads_of(int threads) {
  if (threads < 0) {
    refuse("threads (" + std::to_string(threads) +
           ") must be 0 (as many as the machine has cores) or more");
  }
  return threads;
}

// A file's path from a str or an os.PathLike (bytes ones decoded as the file system does).
std::optional<std::string> path_of(const py::object& o) {
  if (!py::isinstance<py::str>(o) && !py::hasattr(o, "__fspath__")) return std::nullopt;
  const py::module_ os = py::module_::import("os");
  return os.attr("fsdecode")(os.attr("fspath")(o)).cast<std::string>();
}

// The design: the eight numbers, or the path of a sweep WAV vellisk wrote, read and checked
// sample by sample as vellisk-ir's --sweep reads it.
SweepParams params_of(const py::object& design) {
  if (std::optional<std::string> path = path_of(design)) {
    py::gil_scoped_release free;  // the file's every sample is checked
    return read_sweep_file(*path).params;
  }
  if (!py::isinstance<py::sequence>(design) || py::isinstance<py::bytes>(design)) {
    refuse_type(design, "design",
                "the eight numbers of the sweep or the path (str or os.PathLike) of its WAV file");
  }
  std::vector<double> n;
  for (const py::handle item : design.cast<py::sequence>()) {
    n.push_back(argument<double>(item, "design[" + std::to_string(n.size()) + "]"));
  }
  if (n.size() != 8) {
    refuse("design must be the eight numbers rate, amplitude, hzstart, hzend, duration, "
           "silence, leadin and leadout (" + std::to_string(n.size()) + " given)",
           std::nullopt, ProblemCode::invalid_design);
  }
  return {n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]};
}

// The keywords of a measurement: a value left at None is the setting not given.
struct Keywords {
  double pre, length;
  int harmonics, repeat;
  std::optional<int> reference;
  py::object drift;
  std::optional<double> gate;
  std::optional<int> smooth;
  bool uncompensated, align;
  int threads;
  // The views and the calibration.
  bool curves, step, waterfall;
  std::optional<double> waterfall_range;
  py::object mic_cal, spl_cal;
};

// A calibration file's path: a str or os.PathLike that names a file.
std::string calibration_path(const py::handle& given, Setting setting, const char* kind) {
  const std::optional<std::string> path = path_of(py::reinterpret_borrow<py::object>(given));
  if (!path) refuse_type(given, keyword_name(setting), kind);
  if (path->empty()) refuse(std::string(keyword_name(setting)) + " must name a file", setting);
  return *path;
}

// mic_cal and spl_cal's (path, level) into r.
void calibration_of(const Keywords& k, ResponseRequest& r) {
  if (!k.mic_cal.is_none()) {
    r.mic_calibration =
        calibration_path(k.mic_cal, Setting::mic_calibration, "a path (str or os.PathLike)");
  }
  if (k.spl_cal.is_none()) return;
  const char* kind = "a pair (path, level): the calibrator's recording and its stated level, "
                     "dB SPL";
  if (!py::isinstance<py::sequence>(k.spl_cal) || py::isinstance<py::str>(k.spl_cal) ||
      py::len(k.spl_cal) != 2) {
    refuse_type(k.spl_cal, "spl_cal", kind);
  }
  const auto pair = k.spl_cal.cast<py::sequence>();
  r.spl_calibration = calibration_path(pair[0], Setting::spl_calibration, kind);
  r.spl_level_db = argument<double>(pair[1], "spl_cal's level");
}

// drift's 'auto', or its ppm, into r.
void drift_of(const py::object& drift, ResponseRequest& r) {
  if (drift.is_none()) return;
  if (py::isinstance<py::str>(drift)) {
    const std::string text = drift.cast<std::string>();
    if (text != "auto") {
      refuse("drift ('" + text + "') must be 'auto' or a number of ppm", Setting::drift);
    }
    r.drift_auto = true;
    return;
  }
  r.drift_ppm = argument<double>(drift, "drift", "a number (ppm) or 'auto'");
}

// The request the keywords make, checked as the library checks a request.
ResponseRequest request_of(const SweepParams& params, const Keywords& k) {
  ResponseRequest r;
  r.sweep = params;
  r.pre = k.pre;
  r.length = k.length;
  r.harmonics = k.harmonics;
  r.repeat = k.repeat;
  if (k.reference) check_given(Setting::reference, r.reference = *k.reference);
  drift_of(k.drift, r);
  if (k.gate) check_given(Setting::gate, r.gate_ms = *k.gate);
  if (k.smooth) check_given(Setting::smooth, r.smooth = *k.smooth);
  r.uncompensated = k.uncompensated;
  r.align = k.align;
  r.threads = threads_of(k.threads);
  r.curves = k.curves;
  r.waterfall = k.waterfall;
  if (k.waterfall_range) {
    if (!k.waterfall) {
      refuse("waterfall_range is for the waterfall: give waterfall=True too",
             Setting::waterfall_range);
    }
    r.waterfall_range_ms = *k.waterfall_range;
  }
  calibration_of(k, r);
  check_request(r);
  return r;
}

// Order k's windows of every channel, frames x channels.
py::array_t<float> order_array(const ResponseResult& result, int k, int channels) {
  const std::int64_t n = result.frames(k);
  py::array_t<float> out({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(channels)});
  float* data = out.mutable_data();
  std::optional<Problem> error;
  {
    py::gil_scoped_release free;
    std::vector<float> row(static_cast<std::size_t>(n));
    for (int c = 0; c < channels && !error; ++c) {
      error = result.read(k, c, 0, n, row.data());
      for (std::int64_t t = 0; t < n; ++t) data[t * channels + c] = row[static_cast<std::size_t>(t)];
    }
  }
  if (error) throw Error(*error);
  return out;
}

// A vector's values as a 1-D float64 array.
py::array_t<double> array_of(const std::vector<double>& v) {
  return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

// Each channel's curves, the columns of vellisk-ir's --curves files.
py::list curves_of(const ResponseResult& result) {
  py::list out;
  for (const ChannelResponse& c : result.channels) {
    const PhaseCurves& p = c.phase_curves;
    py::dict d;
    d["frequency_hz"] = array_of(p.frequencies);
    d["level_db"] = array_of(p.level);
    d["phase_deg"] = array_of(p.phase);
    d["group_delay_ms"] = array_of(p.group_delay);
    d["min_phase_deg"] = array_of(p.min_phase);
    d["excess_group_delay_ms"] = array_of(p.excess_group_delay);
    out.append(d);
  }
  return out;
}

// Each channel's waterfall, vellisk-ir's --waterfall files: levels[slice, frequency].
py::list waterfall_of(const ResponseResult& result) {
  py::list out;
  for (const ChannelResponse& c : result.channels) {
    const TimeFrequencyLevels& w = c.waterfall;
    py::array_t<double> levels({static_cast<py::ssize_t>(w.times_ms.size()),
                                static_cast<py::ssize_t>(w.frequencies.size())});
    std::copy(w.levels.begin(), w.levels.end(), levels.mutable_data());
    py::dict d;
    d["time_ms"] = array_of(w.times_ms);
    d["frequency_hz"] = array_of(w.frequencies);
    d["level_db"] = levels;
    d["onset_ms"] = w.origin_ms;
    out.append(d);
  }
  return out;
}

// Every channel's step response, frames x channels: vellisk-ir's --step file.
py::array_t<float> step_of(const ResponseResult& result) {
  const auto channels = static_cast<py::ssize_t>(result.channels.size());
  const std::int64_t n = result.frames(1);
  py::array_t<float> out({static_cast<py::ssize_t>(n), channels});
  float* data = out.mutable_data();
  std::optional<Problem> error;
  {
    py::gil_scoped_release free;
    std::vector<float> step;
    for (py::ssize_t c = 0; c < channels && !error; ++c) {
      error = read_step(result, static_cast<int>(c), step);
      for (std::int64_t t = 0; t < n && !error; ++t) {
        data[t * channels + c] = step[static_cast<std::size_t>(t)];
      }
    }
  }
  if (error) throw Error(*error);
  return out;
}

// The warnings' words, in the keywords' names, and the report.
void report_of(const ResponseResult& result, const std::string& name, PyResponse& out) {
  for (const Warning& w : result.warnings) out.warnings.append(describe(w, keyword_name, name));
  out.report = report_dict(result.report, name, py::list(out.warnings));
}

PyResponse impulse_response(const py::object& recording, int rate,
                            const py::object& design, const Keywords& keywords,
                            const std::string& name) {
  ResponseRequest request = request_of(params_of(design), keywords);
  CancelFlag cancel{false};
  request.cancel = &cancel;
  const Samples samples = samples_of(recording, "recording");
  MemorySource source(samples.data.data(), samples.frames, samples.channels, rate,
                      samples.channels, 1, name);
  const ResponseResult result =
      interruptible(cancel, [&] { return measure(request, source, name); });
  PyResponse out;
  out.ir = order_array(result, 1, samples.channels);
  for (int k = 2; k <= result.orders(); ++k) {
    out.harmonics.append(order_array(result, k, samples.channels));
  }
  if (keywords.curves) out.curves = curves_of(result);
  if (keywords.waterfall) out.waterfall = waterfall_of(result);
  if (keywords.step) out.step = step_of(result);
  report_of(result, name, out);
  return out;
}

py::dict room_parameters(const py::object& ir, double rate, const std::string& bands,
                         int threads) {
  if (bands != "octave" && bands != "third") {
    refuse("bands ('" + bands + "') must be 'octave' or 'third'");
  }
  RoomSetup setup;
  setup.third = bands == "third";
  setup.rate = rate;
  if (std::optional<Problem> p = check_room(setup)) throw Error(*p);
  setup.threads = threads_of(threads);
  const Samples samples = samples_of(ir, "ir");
  if (std::optional<Problem> p = check_room_frames(samples.frames, "ir")) throw Error(*p);
  CancelFlag cancel{false};
  setup.cancel = &cancel;
  MemorySource source(samples.data.data(), samples.frames, samples.channels, 0, samples.channels,
                      1, "ir");
  return room_dict(rate, interruptible(cancel, [&] { return analyse_room(setup, source); }));
}

py::tuple sweep(double rate, double amplitude, double hzstart, double hzend, double duration,
                double silence, double leadin, double leadout) {
  const SweepParams params = {rate, amplitude, hzstart, hzend, duration, silence, leadin, leadout};
  if (std::optional<Problem> p = check_design(params)) throw Error(*p);
  const SweepDesign d = compute_design(params);
  py::array_t<float> sweep_file(static_cast<py::ssize_t>(sweep_file_length(d)));
  py::array_t<float> inverse_file(static_cast<py::ssize_t>(d.sweeplen));
  float* s = sweep_file.mutable_data();
  float* i = inverse_file.mutable_data();
  {
    py::gil_scoped_release free;
    sweep_samples(d, 0, sweep_file.size(), s);
    inverse_samples(d, 0, inverse_file.size(), i);
  }
  return py::make_tuple(sweep_file, inverse_file);
}

// ---------------------------------------------------------------------------------------------
// The words of the module's help.

constexpr const char* kModuleDoc = R"(Exponential sine sweep measurements with Vellisk's library.

sweep() makes the sweep to play and its inverse filter, bit for bit the files the vellisk
program writes; impulse_response() turns a recording of the played sweep into the system's
impulse response, harmonics, warnings and report, as vellisk-ir does; room_parameters() gives
the room-acoustic parameters of an impulse response (ISO 3382-1, and the STI of IEC 60268-16),
as vellisk-room does. Arrays are numpy arrays of samples, frames x channels (or 1-D for one
channel), full scale at 1. Refused input raises vellisk.Error, a ValueError whose message
names the keyword, the rule and the value ("pre (-1) must be ..."), with its code and the
keyword (setting); a file that cannot be read raises OSError, an argument of the wrong type
TypeError naming it, an array that cannot be converted to 32-bit floats MemoryError. The computations
release the GIL; Ctrl-C ends one between its steps with KeyboardInterrupt.)";

constexpr const char* kSweepDoc = R"(The sweep and its inverse filter.

The eight numbers are vellisk's arguments: rate in samples per second, amplitude the
sweep's linear peak, hzstart and hzend in Hz, duration and silence (before and after the
sweep) in seconds, leadin and leadout the fades as fractions of the sweep. Returns
(sweep, inverse), 1-D float32 arrays bit for bit the samples of vellisk's files. Raises
vellisk.Error when the numbers make no sweep, with vellisk's message.)";

constexpr const char* kImpulseDoc = R"(The impulse response of a recording, as vellisk-ir measures it.

The recording is of the sweep that design names.

recording  frames x channels, or 1-D for one channel; any floating-point dtype, full scale at 1
rate       the recording's sample rate; it must be design's rate
design     the eight numbers of the sweep that was played (see sweep()), or the path (str or
           os.PathLike) of the sweep or inverse WAV file vellisk wrote with --wav, whose design
           is read and checked sample by sample (--sweep)
pre        seconds kept before the zero instant (vellisk-ir --pre)
length     seconds kept after it (--length)
harmonics  harmonic orders 2 to harmonics are measured too; 1: none (--harmonics)
repeat     sweep files played back to back, timed and averaged (--repeat)
reference  the loopback channel, from 1, that times every other (--reference)
drift      a clock drift in ppm to correct, or 'auto' to correct the one measured (--drift)
gate       analyse the response to this many ms after its arrival (--gate)
smooth     smooth the frequency responses over 1/smooth octave (--smooth)
uncompensated  leave the sweep's own response in (--uncompensated)
align      move the windows onto a response found outside them (--align)
threads    threads at most; 0: as many as the machine has cores
name       names the recording in messages, warnings and the report
curves     compute each channel's phase, group delay and minimum phase (--curves)
step       compute the step responses (--step)
waterfall  compute each channel's cumulative spectral decay (--waterfall)
waterfall_range  its slices run 0 to this many ms after the onset; default 20 (--waterfall-range)
mic_cal    a microphone calibration file's path, its response taken out (--mic-cal)
spl_cal    (path, level): a WAV recording of a calibrator playing level dB SPL at 1 kHz through
           the same input chain; every level then reads in dB SPL (--spl-cal)

Returns a Response (ir, harmonics, warnings, report, and curves, step and waterfall when
asked for). Raises vellisk.Error naming the keyword for a value it refuses, and with
vellisk-ir's message for a design, sweep file or recording it refuses; OSError for a file that
cannot be read, TypeError for a keyword of the wrong kind, and MemoryError when the measurement
needs more memory than the machine allows.)";

constexpr const char* kRoomDoc = R"(The room-acoustic parameters of an impulse response.

As vellisk-room computes them: each band's EDT, T20, T30 (s), C50, C80 (dB), D50, Ts (ms)
with Lundeby's noise compensation, the single-number values and the STI. ir: frames x channels, or 1-D, any floating-point dtype;
rate: samples per second (1000 to 10000000); bands: 'octave' or 'third'; threads: bands
analysed at once, 0: as many as the machine has cores. Returns a dict equal to an entry of
the "files" list of vellisk-room's JSON report, without its "file": {"rate": ...,
"channels": [...], "measurement": None}, a missing value None. Raises vellisk.Error for a
rate or bands it refuses.)";

// vellisk.Error, and the translation of the library's problems into Python's exceptions.
void add_error(py::module_& m) {
  error_type = PyErr_NewExceptionWithDoc(
      "vellisk.Error",
      "A refusal: the value given, the rule it breaks and the keyword, in one line. code: the "
      "kind of problem ('invalid_design', 'invalid_request', 'invalid_recording', "
      "'invalid_input', 'measurement_failed', 'not_finite', ...); setting: the keyword whose rule is broken, or "
      "None.",
      PyExc_ValueError, nullptr);
  if (error_type == nullptr) throw py::error_already_set();
  py::handle(error_type).attr("code") = py::none();
  py::handle(error_type).attr("setting") = py::none();
  m.add_object("Error", py::handle(error_type));

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Error& e) {
      raise_problem(e.problem());
    }
  });
}

// The Response class.
void add_response(py::module_& m) {
  py::class_<PyResponse>(m, "Response", "A measurement's results, as impulse_response returns them.")
      .def_readonly("ir", &PyResponse::ir,
                    "The impulse response, frames x channels float32: vellisk-ir's response file "
                    "(pre seconds before the zero instant, length after it).")
      .def_readonly("harmonics", &PyResponse::harmonics,
                    "The harmonic responses, order 2 upwards: a list of frames x channels float32 "
                    "arrays, vellisk-ir's files irfile-h2, irfile-h3, ...")
      .def_readonly("warnings", &PyResponse::warnings,
                    "The warnings, a list of strings: what probably went wrong and what to do, "
                    "as vellisk-ir prints them after \"Warning: \", the settings advised named "
                    "by their keywords.")
      .def_readonly("report", &PyResponse::report,
                    "Every figure of the measurement, a dict with the keys and values of "
                    "vellisk-ir's JSON report (no outputs; the recording named by name, its "
                    "format \"samples in memory\"; the warnings in the keywords' names).")
      .def_readonly("curves", &PyResponse::curves,
                    "With curves=True, each channel's curves, vellisk-ir's --curves files: a list "
                    "of dicts of 1-D float64 arrays, one value per point of the .frd grid (96 an "
                    "octave over the band): frequency_hz, level_db (in report[\"level_unit\"]), "
                    "phase_deg (the arrival removed), group_delay_ms, min_phase_deg, "
                    "excess_group_delay_ms (both delays NaN where the file leaves them empty). "
                    "None otherwise.")
      .def_readonly("step", &PyResponse::step,
                    "With step=True, the step responses, frames x channels float32: the running "
                    "sum of ir, vellisk-ir's --step file. None otherwise.")
      .def_readonly("waterfall", &PyResponse::waterfall,
                    "With waterfall=True, each channel's cumulative spectral decay, vellisk-ir's "
                    "--waterfall files: a list of dicts of time_ms (the slices, from the "
                    "response's onset), frequency_hz (24 points an octave over the band), "
                    "level_db (slices x frequencies float64), onset_ms (the onset, ms after the "
                    "channel's arrival). None otherwise.")
      .def("__repr__", [](const PyResponse& r) {
        return "<vellisk.Response: " + std::to_string(r.ir.shape(0)) + " frames x " +
               std::to_string(r.ir.shape(1)) + " channels, " + std::to_string(py::len(r.harmonics)) +
               " harmonic orders, " + std::to_string(py::len(r.warnings)) + " warnings>";
      });
}

// sweep() and room_parameters().
void add_sweep_and_room(py::module_& m) {
  m.def(
      "sweep",
      [](const py::object& rate, const py::object& amplitude, const py::object& hzstart,
         const py::object& hzend, const py::object& duration, const py::object& silence,
         const py::object& leadin, const py::object& leadout) {
        return sweep(argument<double>(rate, "rate"), argument<double>(amplitude, "amplitude"),
                     argument<double>(hzstart, "hzstart"), argument<double>(hzend, "hzend"),
                     argument<double>(duration, "duration"), argument<double>(silence, "silence"),
                     argument<double>(leadin, "leadin"), argument<double>(leadout, "leadout"));
      },
      kSweepDoc, py::arg("rate"), py::arg("amplitude"), py::arg("hzstart"),
        py::arg("hzend"), py::arg("duration"), py::arg("silence"), py::arg("leadin"),
        py::arg("leadout"));

  m.def(
      "room_parameters",
      [](const py::object& ir, const py::object& rate, const py::object& bands,
         const py::object& threads) {
        return room_parameters(ir, argument<double>(rate, "rate"),
                               argument<std::string>(bands, "bands"),
                               argument<int>(threads, "threads"));
      },
      kRoomDoc, py::arg("ir"), py::arg("rate"),
        py::arg("bands") = "octave", py::kw_only(), py::arg("threads") = 0);
}

// impulse_response(), each argument converted by name.
void add_impulse_response(py::module_& m) {
  m.def(
      "impulse_response",
      [](const py::object& recording, const py::object& rate, const py::object& design,
         const py::object& pre, const py::object& length, const py::object& harmonics,
         const py::object& repeat, const py::object& reference, const py::object& drift,
         const py::object& gate, const py::object& smooth, const py::object& uncompensated,
         const py::object& align, const py::object& threads, const py::object& name,
         const py::object& curves, const py::object& step, const py::object& waterfall,
         const py::object& waterfall_range, const py::object& mic_cal,
         const py::object& spl_cal) {
        // Every argument is converted here, so that one of the wrong type is refused by name.
        const Keywords k{argument<double>(pre, "pre"),
                         argument<double>(length, "length"),
                         argument<int>(harmonics, "harmonics"),
                         argument<int>(repeat, "repeat"),
                         maybe_argument<int>(reference, "reference"),
                         drift,
                         maybe_argument<double>(gate, "gate"),
                         maybe_argument<int>(smooth, "smooth"),
                         argument<bool>(uncompensated, "uncompensated"),
                         argument<bool>(align, "align"),
                         argument<int>(threads, "threads"),
                         argument<bool>(curves, "curves"),
                         argument<bool>(step, "step"),
                         argument<bool>(waterfall, "waterfall"),
                         maybe_argument<double>(waterfall_range, "waterfall_range"),
                         mic_cal,
                         spl_cal};
        return impulse_response(recording, argument<int>(rate, "rate"), design, k,
                                argument<std::string>(name, "name"));
      },
      kImpulseDoc, py::arg("recording"), py::arg("rate"), py::arg("design"), py::kw_only(),
      py::arg("pre") = 0.1, py::arg("length") = 1.0, py::arg("harmonics") = 1,
      py::arg("repeat") = 1, py::arg("reference") = py::none(), py::arg("drift") = py::none(),
      py::arg("gate") = py::none(), py::arg("smooth") = py::none(),
      py::arg("uncompensated") = false, py::arg("align") = false, py::arg("threads") = 0,
      py::arg("name") = "samples", py::arg("curves") = false, py::arg("step") = false,
      py::arg("waterfall") = false, py::arg("waterfall_range") = py::none(),
      py::arg("mic_cal") = py::none(), py::arg("spl_cal") = py::none());
}

}  // namespace

}  // namespace vellisk

namespace vellisk {
// vellisk.correction (eq.cpp).
void add_correction(py::module_& m);
}  // namespace vellisk

PYBIND11_MODULE(vellisk, m) {
  using namespace vellisk;
  m.doc() = kModuleDoc;
  m.attr("__version__") = kVersion;
  add_error(m);
  add_response(m);
  add_sweep_and_room(m);
  add_impulse_response(m);
  register_spin(m);
  add_correction(m);
}
