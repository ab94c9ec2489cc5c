// The run of vellisk-eq: the options, the output names against the inputs, the plan (every
// refusal before the fit), the fit, and the files written together.
#include "run.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "common/console.h"
#include "common/io_names.h"
#include "common/outputs.h"
#include "common/run_main.h"
#include "options.h"
#include "plot/eq_figure.h"
#include "outputs.h"
#include "texts.h"

namespace vellisk {

namespace {

// What the run made: the plan, the fit and the FIRs (one a rate, with --fir or --fir-raw).
struct Made {
  EqPlan plan;
  EqCorrection fit;
  std::vector<EqFir> firs;
};

// The predicted response at the i-th rate: through that rate's FIR when there is one, else
// through the filters and the preamp.
std::string predicted(const Made& m, std::size_t i) {
  const double rate = m.plan.request.rates[i];
  if (m.firs.empty()) {
    return predicted_text(
        filters_predicted(m.plan, m.fit, rate),
        formatted("the filters and the preamp (%.12g dB) at %.0f Hz", m.fit.preamp_db, rate));
  }
  return predicted_text(fir_predicted(m.plan, m.firs[i]), formatted("the FIR at %.0f Hz", rate));
}

// The figure: the measured response, the aligned target and the prediction above, the
// correction's gain below.
std::string figure(const EqOptions& o, const Made& m, std::string& svg) {
  EqFigure f;
  f.title = formatted("vellisk-eq: %zu input%s, %zu filter%s", o.inputs.size(), o.inputs.size() == 1 ? "" : "s",
                      m.fit.filters.size(), m.fit.filters.size() == 1 ? "" : "s");
  f.facts = formatted("Range %.0f-%.0f Hz; rms error %.2f dB before, %.2f dB after; preamp %.2f dB",
                      m.plan.low_hz, m.plan.high_hz, m.fit.before.rms_db, m.fit.after.rms_db, m.fit.preamp_db);
  const EqCurve& measured = m.plan.measured;
  f.low_hz = measured.frequencies.front();
  f.high_hz = measured.frequencies.back();
  f.range_low_hz = m.plan.low_hz;
  f.range_high_hz = m.plan.high_hz;
  const std::size_t lowest = lowest_rate(m.plan.request.rates);
  const EqCurve predicted =
      m.firs.empty() ? m.fit.predicted : fir_predicted(m.plan, m.firs[lowest]);
  f.levels = {{"measured", measured.frequencies, measured.level},
              {"target", m.fit.target.frequencies, m.fit.target.level},
              {m.firs.empty() ? "predicted" : "predicted (FIR)", predicted.frequencies, predicted.level}};
  std::vector<double> sum =
      filters_gain_db(m.fit.filters, m.plan.request.rates[lowest], predicted.frequencies);
  for (double& g : sum) g += m.fit.preamp_db;
  f.gains = {{"filters", predicted.frequencies, sum}};
  if (!m.firs.empty())
    f.gains.push_back(
        {"FIR", predicted.frequencies, fir_gain_db(m.firs[lowest], predicted.frequencies)});
  return draw_eq_figure(f, svg);
}

// Writes every output named, then moves them into place together.
std::string write_outputs(const EqOptions& o, const Made& m) {
  OutputSet files;
  const auto file = [&files](const std::string& name, const std::string& content) {
    std::string e;
    const int fd = files.create(name, e);
    if (fd >= 0) e = write_text(fd, content);
    return e.empty() ? e : "Unable to write " + name + ": " + e;
  };
  const std::vector<double>& rates = m.plan.request.rates;
  std::vector<std::pair<std::string, std::string>> texts;
  if (!o.apo.empty()) texts.emplace_back(o.apo, apo_text(m.fit));
  if (!o.camilladsp.empty()) {
    texts.emplace_back(
        o.camilladsp,
        camilladsp_text(m.fit,
                        o.fir.empty() ? "" : fir_name(o.fir, rates, rates[lowest_rate(rates)])));
  }
  if (!o.biquads.empty()) texts.emplace_back(o.biquads, biquads_text(m.fit, rates));
  for (std::size_t i = 0; i < rates.size() && !o.predicted.empty(); ++i) {
    texts.emplace_back(fir_name(o.predicted, rates, rates[i]), predicted(m, i));
  }
  if (!o.json.empty()) texts.emplace_back(o.json, eq_json(o, m.plan, m.fit, m.firs));
  if (!o.plot.empty()) {
    std::string svg;
    if (std::string e = figure(o, m, svg); !e.empty()) return "Unable to draw " + o.plot + ": " + e;
    texts.emplace_back(o.plot, std::move(svg));
  }
  for (const auto& [name, text] : texts) {
    if (std::string e = file(name, text); !e.empty()) return e;
  }
  for (const EqFir& f : m.firs) {
    if (!o.fir.empty()) {
      if (std::string e = file(fir_name(o.fir, rates, f.rate), fir_wav_bytes(f)); !e.empty()) return e;
    }
    if (!o.fir_raw.empty()) {
      if (std::string e = file(fir_name(o.fir_raw, rates, f.rate), fir_raw_bytes(f)); !e.empty()) return e;
    }
  }
  return files.commit();
}

void report_written(const EqOptions& o) {
  const std::pair<const std::string*, const char*> written[] = {
      {&o.apo, "EqualizerAPO filters written: "},
      {&o.camilladsp, "CamillaDSP filters written: "},
      {&o.biquads, "Biquads written: "},
      {&o.json, "Report written: "},
      {&o.plot, "Figure written: "}};
  for (const auto& [name, words] : written) {
    if (!name->empty()) print_line_path(words, name->c_str());
  }
  const std::pair<const std::string*, const char*> each_rate[] = {
      {&o.predicted, "Predicted response written: "},
      {&o.fir, "FIR written: "},
      {&o.fir_raw, "FIR written: "}};
  for (const auto& [name, words] : each_rate) {
    if (name->empty()) continue;
    for (const double rate : o.request.rates) {
      print_line_path(words, fir_name(*name, o.request.rates, rate).c_str());
    }
  }
}

}  // namespace

int run_eq(int argc, char** argv) {
  EqOptions o;
  if (const std::string e = parse_eq_options(argc, argv, o); !e.empty()) return fail(e);
  if (o.version) {
    print_line(kEqVersion);
    return EXIT_SUCCESS;
  }
  if (o.help || o.inputs.empty()) {
    for (const char* line : kEqHelp) print_line(line);
    return EXIT_SUCCESS;
  }
  std::vector<std::string> names = output_names(o);
  std::vector<std::string> read = o.inputs;
  if (o.request.target == EqTarget::file) read.push_back(o.request.target_file);
  if (std::string e = names_error(names, read, "the correction"); !e.empty()) return fail(e);
  Made m;
  try {
    m.plan = plan_correction(o.request, o.inputs);
    const bool fir = !o.fir.empty() || !o.fir_raw.empty();
    if (fir) check_fir(m.plan, o.fir_request);
    m.fit = fit_correction(m.plan);
    if (fir) m.firs = design_fir(m.plan, m.fit, o.fir_request);
  } catch (const Error& e) {
    pass_allocation_failure(e);
    return fail(e.what());
  }
  if (std::string e = write_outputs(o, m); !e.empty()) return fail(e);
  for (const std::string& line : report_lines(o, m.plan, m.fit, m.firs)) print_line(line.c_str());
  report_written(o);
  return EXIT_SUCCESS;
}

}  // namespace vellisk
