// The run of vellisk-eq: the options, the output names against the inputs, the plan (every
// refusal before the fit), the fit, and the files written together.
#include "run.h"

#include <cstdlib>

#include "common/console.h"
#include "common/io_names.h"
#include "common/outputs.h"
#include "options.h"
#include "outputs.h"
#include "texts.h"

namespace vellisk {

namespace {

// Writes every output named, then moves them into place together.
std::string write_outputs(const EqOptions& o, const EqPlan& plan, const EqCorrection& c) {
  OutputSet files;
  const auto text_file = [&files](const std::string& name, const std::string& content) {
    if (name.empty()) return std::string();
    std::string e;
    const int fd = files.create(name, e);
    if (fd >= 0) e = write_text(fd, content);
    return e.empty() ? e : "Unable to write " + name + ": " + e;
  };
  for (const auto& [name, text] : {std::pair{&o.apo, &apo_text}, std::pair{&o.camilladsp, &camilladsp_text},
                                   std::pair{&o.predicted, &predicted_text}}) {
    if (std::string e = text_file(*name, name->empty() ? "" : text(c)); !e.empty()) return e;
  }
  if (std::string e = text_file(o.biquads, o.biquads.empty() ? "" : biquads_text(c, plan.request.rates));
      !e.empty()) {
    return e;
  }
  if (std::string e = text_file(o.json, o.json.empty() ? "" : eq_json(o, plan, c)); !e.empty()) return e;
  return files.commit();
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
  EqPlan plan;
  EqCorrection c;
  try {
    plan = plan_correction(o.request, o.inputs);
    c = fit_correction(plan);
  } catch (const Error& e) {
    return fail(e.what());
  }
  if (std::string e = write_outputs(o, plan, c); !e.empty()) return fail(e);
  for (const std::string& line : report_lines(o, plan, c)) print_line(line.c_str());
  const std::pair<const std::string*, const char*> written[] = {
      {&o.apo, "EqualizerAPO filters written: "}, {&o.camilladsp, "CamillaDSP filters written: "},
      {&o.biquads, "Biquads written: "}, {&o.predicted, "Predicted response written: "},
      {&o.json, "Report written: "}};
  for (const auto& [name, words] : written) {
    if (!name->empty()) print_line_path(words, name->c_str());
  }
  return EXIT_SUCCESS;
}

}  // namespace vellisk
