// The Python module `tormid`: profiles, settings, one alignment, and the
// database search, over the same library as the programs. The GIL is
// released while the engine works; files that cannot be opened or read
// raise OSError, malformed input ValueError, with the programs' messages.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "builder/iteration.h"
#include "input/input.h"
#include "search/search.h"
#include "tormid_version.h"

namespace py = pybind11;
using namespace tormid;

namespace {

// The profiles of one file, with their laws (empty ones where the file
// holds none), shared by the Profile objects made from it: a search of a
// whole file's profiles in file order hands them over as they are.
struct SharedProfiles {
  std::vector<Profile> profiles;
  std::vector<StoredLaw> laws;  // one per profile
  std::vector<Family> seeds;    // one per profile: what it was built from (empty where read)
};

struct PyProfile {
  std::shared_ptr<const SharedProfiles> file;
  std::size_t index = 0;
  const Profile& profile() const { return file->profiles[index]; }
  const StoredLaw& law() const { return file->laws[index]; }
  const Family& seed() const { return file->seeds[index]; }
};

// Alignment settings as Python sees them: immutable, with the mode they
// were made from (or "file" for a parameter file's).
struct PySettings {
  Settings settings;
  std::string mode;
  bool show_alignment = false;
};

struct PyHit {
  std::string profile, sequence, description;
  std::optional<std::string> accession;  // the profile's
  double score, evalue, bits, bias, sequence_evalue;
  int seq_len, seq_from, seq_to, prf_from, prf_to, domain, n_domains;
  std::string prf_line, seq_line;
  int round;
};

std::optional<std::string> optional_text(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional(text);
}

py::dict cutoffs_of(const PyProfile& p) {
  py::dict cutoffs;
  const ProfileNotes& notes = p.profile().notes();
  for (const CutoffField& f : kCutoffFields)
    if (const std::optional<BitCutoff>& cutoff = notes.*f.member)
      cutoffs[f.tag] = py::make_tuple(cutoff->sequence, cutoff->domain);
  return cutoffs;
}

// An input failure as the Python exception it is: OSError for files that
// did not open or could not be read, ValueError for what was read and is
// wrong; the message names the file, as the programs print it.
[[noreturn]] void raise_input_error(const InputError& e) {
  if (e.kind() == InputError::Kind::open || e.kind() == InputError::Kind::read) {
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  }
  throw py::value_error(e.what());
}

SearchMode mode_named(const std::string& mode) {
  if (mode == "local") return SearchMode::local;
  if (mode == "glocal") return SearchMode::glocal;
  if (mode == "global") return SearchMode::global;
  throw py::value_error("mode must be 'local', 'glocal' or 'global', not '" + mode + "'");
}

std::string number(double v) {
  std::string text = py::str(py::float_(v));
  return text;
}

std::string settings_repr(const PySettings& s) {
  const Settings& a = s.settings;
  if (s.mode != "file")
    return "Settings(mode='" + s.mode + "', open=" + number(a.gap_open_penalty_prf) +
           ", extend=" + number(a.deletion_penalty_prf) + ")";
  const char* starts[] = {"global", "profile-free", "sequence-free", "local"};
  return "Settings.from_file(open=" + number(a.gap_open_penalty_prf) + "/" + number(a.gap_open_penalty_seq) +
         ", extend=" + number(a.deletion_penalty_prf) + "/" + number(a.deletion_penalty_seq) + ", start='" +
         starts[static_cast<int>(a.start)] + "', end='" + starts[static_cast<int>(a.end)] + "')";
}

std::vector<PyProfile> shared(SharedProfiles profiles) {
  profiles.laws.resize(profiles.profiles.size());
  profiles.seeds.resize(profiles.profiles.size());
  const auto all = std::make_shared<const SharedProfiles>(std::move(profiles));
  std::vector<PyProfile> out;
  for (std::size_t k = 0; k < all->profiles.size(); ++k) out.push_back({all, k});
  return out;
}

std::vector<PyProfile> profiles_of_file(const std::filesystem::path& file, int threads) {
  const std::string path = file.string();
  LoadedProfiles loaded;
  try {
    py::gil_scoped_release unlocked;
    loaded = load_profiles(path, threads > 0 ? threads : available_cores());
  } catch (const InputError& e) {
    raise_input_error(e);
  }
  ProfileLibrary& library = loaded.library;
  library.laws.resize(library.profiles.size());
  for (std::size_t k = 0; k < library.profiles.size(); ++k)
    if (!library.laws[k].numbers.empty() && !law_readable(library.laws[k]))
      throw py::value_error(path + ": a damaged prepared library (the score law of profile " +
                            library.profiles[k].name() + " is not one)");
  return shared({std::move(library.profiles), std::move(library.laws), std::move(loaded.seeds)});
}

// Profiles built from a file (as tormid-prf build) or from records: an
// alignment (rows with gaps) is one profile, named `name`; sequences
// without gaps are a profile each, named after them.
std::vector<PyProfile> build_from(const py::object& source, const std::optional<std::string>& name) {
  std::vector<BuiltProfile> built;
  try {
    if (py::isinstance<py::str>(source) || py::hasattr(source, "__fspath__")) {
      const std::string path = py::str(py::module_::import("os").attr("fspath")(source)).cast<std::string>();
      py::gil_scoped_release unlocked;
      built = build_profiles(path);
    } else {
      SequenceAlignment alignment;
      alignment.name = name.value_or("alignment");
      for (const py::handle item : source) {
        if (!py::isinstance<py::tuple>(item) && !py::isinstance<py::list>(item))
          throw py::value_error("records are (name, sequence) tuples");
        const py::sequence fields = py::reinterpret_borrow<py::sequence>(item);
        if (fields.size() < 2 || !py::isinstance<py::str>(fields[0]) || !py::isinstance<py::str>(fields[1]))
          throw py::value_error("records are (name, sequence) tuples of strings");
        alignment.names.push_back(fields[0].cast<std::string>());
        std::string row;
        for (const char c : fields[1].cast<std::string>())
          if (c != ' ' && c != '\n' && c != '\r' && c != '\t') row += c;
        alignment.rows.push_back(std::move(row));
      }
      if (alignment.rows.empty()) throw py::value_error("no records to build a profile from");
      const bool aligned = std::any_of(alignment.rows.begin(), alignment.rows.end(), [](const std::string& r) {
        return r.find_first_of("-.") != std::string::npos;
      });
      std::vector<SequenceAlignment> families;
      if (aligned) {
        for (std::size_t k = 0; k < alignment.rows.size(); ++k)
          if (alignment.rows[k].size() != alignment.rows.front().size())
            throw py::value_error("ragged rows: " + alignment.names[k] + " has " +
                                  std::to_string(alignment.rows[k].size()) + " columns, " + alignment.names.front() +
                                  " " + std::to_string(alignment.rows.front().size()));
        families.push_back(std::move(alignment));
      } else {
        for (std::size_t k = 0; k < alignment.rows.size(); ++k) {
          SequenceAlignment one;
          one.kind = SequenceAlignment::Kind::single;
          one.name = alignment.names[k];
          one.names = {alignment.names[k]};
          one.rows = {alignment.rows[k]};
          families.push_back(std::move(one));
        }
      }
      for (const SequenceAlignment& family : families)
        for (const std::string& row : family.rows) {
          if (std::none_of(row.begin(), row.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
            throw py::value_error("a record of " + family.name + " has no residues");
          for (const char c : row)
            if (!std::isalpha(static_cast<unsigned char>(c)) && c != '-' && c != '.')
              throw py::value_error(std::string("unknown character '") + c + "' in the records of " + family.name);
        }
      py::gil_scoped_release unlocked;
      built = build_profiles("records", families);
    }
  } catch (const InputError& e) {
    raise_input_error(e);
  }
  SharedProfiles profiles;
  for (BuiltProfile& b : built) {
    profiles.profiles.push_back(std::move(b.profile));
    profiles.seeds.push_back(std::move(b.seed));
  }
  return shared(std::move(profiles));
}

PySettings settings_from_file(const std::filesystem::path& path) {
  try {
    const ParamValues values = read_param_file(path.string(), LineReader::Compression::gzip);
    return {set_parameters(values), "file", values.show_alignment};
  } catch (const InputError& e) {
    raise_input_error(e);
  }
}

py::dict alignment_dict(const Alignment& a) {
  py::dict d;
  d["score"] = a.score;
  d["seq_from"] = a.seq_from;
  d["seq_to"] = a.seq_to;
  d["prf_from"] = a.prf_from;
  d["prf_to"] = a.prf_to;
  d["prf_line"] = a.prf_line;
  d["seq_line"] = a.seq_line;
  return d;
}

// One alignment, as tormid computes it for a FASTA record with these
// letters: everything but the letters A to Z is dropped, case is ignored.
Alignment align_one(const PyProfile& p, const std::string& sequence, const PySettings& s) {
  std::string letters;
  add_seq(sequence, letters);
  if (letters.empty()) throw py::value_error("the sequence has no letters");
  Alignment a;
  {
    py::gil_scoped_release unlocked;
    thread_local Workspace workspace;
    a = align(p.profile(), s.settings, letters, workspace, Detail::display);
  }
  if (a.status == AlignStatus::out_of_memory) throw std::bad_alloc();
  return a;
}

// Records from a Python iterable of (name, sequence) pairs, or
// (name, sequence, description) triples, taken under the GIL as the
// search's reading thread asks for them. An exception of the iterable's
// is kept and raised again once the search has stopped.
class IterableRecords {
 public:
  explicit IterableRecords(py::iterator it) : it_(std::move(it)) {}
  bool next(SequenceRecord& record) {
    py::gil_scoped_acquire locked;
    try {
      if (it_ == py::iterator::sentinel()) return false;
      const py::object item = py::reinterpret_borrow<py::object>(*it_);
      ++it_;
      if (!py::isinstance<py::tuple>(item) && !py::isinstance<py::list>(item))
        throw py::value_error("records are (name, sequence) or (name, sequence, description) tuples");
      const py::sequence fields = py::reinterpret_borrow<py::sequence>(item);
      if (fields.size() < 2 || fields.size() > 3)
        throw py::value_error("records are (name, sequence) or (name, sequence, description) tuples");
      for (const py::handle field : fields)
        if (!py::isinstance<py::str>(field))
          throw py::value_error("record names, sequences and descriptions are strings");
      record.name = fields[0].cast<std::string>();
      record.sequence = fields[1].cast<std::string>();
      record.description = fields.size() == 3 ? fields[2].cast<std::string>() : std::string();
      return true;
    } catch (py::error_already_set& e) {
      failure_ = std::make_unique<py::error_already_set>(std::move(e));
    } catch (const py::builtin_exception& e) {
      e.set_error();
      failure_ = std::make_unique<py::error_already_set>();
    }
    throw SearchError("the records could not be read");
  }
  void raise_failure() {
    if (failure_) throw std::move(*failure_);
  }

 private:
  py::iterator it_;
  std::unique_ptr<py::error_already_set> failure_;
};

// Runs work(stop) on a thread of its own while the calling thread, without
// the GIL, runs Python's signal handlers every tenth of a second: a handler
// that raises (Ctrl-C's KeyboardInterrupt) asks the work to stop, waits for
// its threads to finish, and its exception is raised here. The work's own
// exceptions are raised here too.
void run_interruptibly(const std::function<void(std::stop_token)>& work) {
  std::stop_source stop;
  std::exception_ptr failure;
  std::unique_ptr<py::error_already_set> interrupted;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  {
    py::gil_scoped_release unlocked;
    std::thread worker([&] {
      try {
        work(stop.get_token());
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard lock(mutex);
      done = true;
      finished.notify_one();
    });
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
      if (interrupted) continue;
      lock.unlock();
      {
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) {
          interrupted = std::make_unique<py::error_already_set>();
          stop.request_stop();
        }
      }
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }
  if (interrupted) throw std::move(*interrupted);
  if (failure) std::rethrow_exception(failure);
}

std::vector<PyHit> search_records(const std::vector<PyProfile>& profiles, const py::object& sequences,
                        const std::optional<PySettings>& settings, double evalue, std::optional<double> min_score,
                        std::optional<double> z, int max_domains, int threads, bool per_sequence, bool alignments,
                        int iterations, double inc_evalue, const std::optional<std::string>& cutoffs,
                        bool resolve) {
  SearchConfig config;
  if (settings) config.alignment = settings->settings;
  if (!(evalue >= 0)) throw py::value_error("evalue must be 0 or more");
  if (min_score && !std::isfinite(*min_score)) throw py::value_error("min_score must be a finite number");
  if (z && !(*z > 0 && std::isfinite(*z))) throw py::value_error("z must be a positive number");
  if (max_domains < 0) throw py::value_error("max_domains must be 0 or more");
  if (threads < 0) throw py::value_error("threads must be 0 (every core) or more");
  if (iterations < 1) throw py::value_error("iterations must be 1 or more");
  if (!(inc_evalue >= 0)) throw py::value_error("inc_evalue must be 0 or more");
  if (iterations > 1 && per_sequence) throw py::value_error("iterations and per_sequence do not go together");
  if (iterations > 1 && resolve) throw py::value_error("iterations and resolve_overlaps do not go together");
  config.max_evalue = evalue;
  config.min_score = min_score;
  config.database_size = z;
  config.max_domains = max_domains;
  config.threads = threads;
  config.alignments = alignments;
  if (per_sequence && !z) config.database_size = static_cast<double>(profiles.size());

  // All of one file's profiles in file order are searched where they are;
  // any other list is copied into one.
  bool whole_file = !profiles.empty() && profiles.size() == profiles.front().file->profiles.size();
  for (std::size_t k = 0; whole_file && k < profiles.size(); ++k)
    whole_file = profiles[k].file == profiles.front().file && profiles[k].index == k;
  SharedProfiles copied;
  if (!whole_file)
    for (const PyProfile& p : profiles) {
      copied.profiles.push_back(p.profile());
      copied.laws.push_back(p.law());
      copied.seeds.push_back(p.seed());
    }
  const SharedProfiles& chosen = whole_file ? *profiles.front().file : copied;
  const std::vector<Profile>& searched = chosen.profiles;
  const std::vector<StoredLaw>& laws = chosen.laws;
  if (cutoffs) {
    const std::optional<CutoffKind> kind = *cutoffs == "ga"   ? std::optional(CutoffKind::gathering)
                                           : *cutoffs == "tc" ? std::optional(CutoffKind::trusted)
                                           : *cutoffs == "nc" ? std::optional(CutoffKind::noise)
                                                              : std::nullopt;
    if (!kind) throw py::value_error("cutoffs must be 'ga', 'tc' or 'nc', not '" + *cutoffs + "'");
    if (!config.has_evalues()) throw py::value_error("cutoffs are read as P-values, and global mode has no E-values");
    try {
      config.cutoffs = pvalue_cutoffs(searched, *kind);
    } catch (const SearchError& e) {
      throw py::value_error(std::string("cutoffs='") + *cutoffs + "': " + e.what());
    }
  }
  std::unique_ptr<IterableRecords> iterable;
  std::optional<SequenceSource> source;
  if (py::isinstance<py::str>(sequences) || py::hasattr(sequences, "__fspath__")) {
    source = SequenceSource::file(py::str(py::module_::import("os").attr("fspath")(sequences)).cast<std::string>());
  } else {
    iterable = std::make_unique<IterableRecords>(py::iter(sequences));
    source = SequenceSource::generated([&iterable](SequenceRecord& r) { return iterable->next(r); });
  }
  // Rounds read the sequences again: records from an iterable are taken
  // first, once.
  if (iterations > 1 && iterable) {
    std::vector<SequenceRecord> records;
    try {
      run_interruptibly([&](std::stop_token stop) {
        SequenceRecord r;
        while (source->generator()(r)) {
          records.push_back(r);
          if (stop.stop_requested()) throw SearchStopped();
        }
      });
    } catch (const SearchError&) {
      iterable->raise_failure();
      throw;
    }
    source = SequenceSource::records(std::move(records));
    iterable.reset();
  }
  SearchResult result;
  std::vector<int> joined;
  try {
    run_interruptibly([&](std::stop_token stop) {
      check_searchable(searched, config.alignment);
      if (iterations == 1) {
        result = search(searched, config, *source, {}, laws, stop);
        return;
      }
      const RoundSearch round = [&](std::span<const Profile> these, std::span<const StoredLaw> their_laws, bool keep) {
        SearchConfig c = config;
        c.alignments = c.alignments || keep;
        return search(these, c, *source, {}, their_laws, stop);
      };
      IterativeResult rounds = search_iteratively(searched, laws, chosen.seeds, {iterations, inc_evalue}, round);
      result = std::move(rounds.result);
      joined = std::move(rounds.joined);
    });
  } catch (const InputError& e) {
    if (iterable) iterable->raise_failure();
    raise_input_error(e);
  } catch (const SearchError& e) {
    if (iterable) iterable->raise_failure();
    throw py::value_error(e.what());
  }
  if (resolve) result.hits = resolve_overlaps(result.hits).hits;
  std::vector<const Hit*> ordered;
  if (per_sequence) {
    ordered = in_sequence_order(result.hits);
  } else {
    for (const Hit& h : result.hits) ordered.push_back(&h);
  }
  std::vector<PyHit> hits;
  hits.reserve(ordered.size());
  for (const Hit* h : ordered)
    hits.push_back({searched[static_cast<std::size_t>(h->profile)].name(), h->name(), h->description(),
                    optional_text(searched[static_cast<std::size_t>(h->profile)].notes().accession), h->score,
                    h->evalue, h->bits, h->bias, h->sequence_evalue, h->seq_len, h->seq_from, h->seq_to, h->prf_from,
                    h->prf_to, h->domain, h->n_domains, h->prf_line, h->seq_line,
                    joined.empty() ? 1 : joined[static_cast<std::size_t>(h - result.hits.data())]});
  return hits;
}

}  // namespace

PYBIND11_MODULE(tormid, m) {
  m.doc() = "Protein sequence analysis with position-specific scoring profiles: read profiles, align one "
            "sequence, search many (the engine of tormid and tormid-scan).";
  m.attr("__version__") = TORMID_VERSION;
  m.attr("kernels") = kernels_line().substr(std::string("kernels: ").size());
  if (const IsaCap& cap = isa_cap(); !cap.problem.empty()) PyErr_WarnEx(PyExc_RuntimeWarning, cap.problem.c_str(), 1);

  py::class_<PyProfile>(m, "Profile", "A scoring profile: a row of 20 scores per position.")
      .def_property_readonly("name", [](const PyProfile& p) { return p.profile().name(); })
      .def_property_readonly("length", [](const PyProfile& p) { return p.profile().length(); })
      .def_property_readonly("consensus", [](const PyProfile& p) { return p.profile().consensus(); },
                             "The best-scoring residue of each position, in lower case.")
      .def_property_readonly("accession", [](const PyProfile& p) { return optional_text(p.profile().notes().accession); },
                             "HMMER's ACC (Pfam's PF00069.17), or None.")
      .def_property_readonly("description",
                             [](const PyProfile& p) { return optional_text(p.profile().notes().description); },
                             "HMMER's DESC, or None.")
      .def_property_readonly("cutoffs", &cutoffs_of,
                             "The curated cutoffs the profile carries, as HMMER's model gives them: "
                             "{'GA': (sequence bits, domain bits), 'TC': ..., 'NC': ...}; empty where none.")
      .def("__len__", [](const PyProfile& p) { return p.profile().length(); })
      .def("__repr__", [](const PyProfile& p) {
        return "<tormid.Profile " + p.profile().name() + ", " + std::to_string(p.profile().length()) + " positions>";
      });

  py::class_<PySettings>(m, "Settings", "Alignment settings: gap costs and free ends. Immutable.")
      .def(py::init([](const std::string& mode, double open, double extend) {
             if (!(open >= 0 && std::isfinite(open)) || !(extend >= 0 && std::isfinite(extend)))
               throw py::value_error("open and extend must be finite numbers, 0 or more");
             return PySettings{mode_settings(mode_named(mode), open, extend), mode, false};
           }),
           py::arg("mode") = "local", py::arg("open") = kDefaultGapOpen, py::arg("extend") = kDefaultGapExtend,
           "mode: 'local' (the best-scoring part of both), 'glocal' (the whole profile inside the sequence) or "
           "'global'; open, extend: gap opening and per-position deletion penalties, both sides.")
      .def_static("from_file", &settings_from_file, py::arg("path"), "The settings of a tormid parameter file.")
      .def_property_readonly("mode", [](const PySettings& s) { return s.mode; })
      .def_property_readonly("open", [](const PySettings& s) { return s.settings.gap_open_penalty_prf; })
      .def_property_readonly("extend", [](const PySettings& s) { return s.settings.deletion_penalty_prf; })
      .def_property_readonly("show_alignment", [](const PySettings& s) { return s.show_alignment; })
      .def("__repr__", &settings_repr);

  py::class_<Alignment>(m, "Alignment", "One alignment: its score, ends and display lines.")
      .def_readonly("score", &Alignment::score)
      .def_readonly("seq_from", &Alignment::seq_from)
      .def_readonly("seq_to", &Alignment::seq_to)
      .def_readonly("prf_from", &Alignment::prf_from)
      .def_readonly("prf_to", &Alignment::prf_to)
      .def_readonly("prf_line", &Alignment::prf_line, "The profile's consensus, '.' for gaps.")
      .def_readonly("seq_line", &Alignment::seq_line, "The sequence, '.' for gaps.")
      .def("_asdict", &alignment_dict)
      .def("__repr__", [](const Alignment& a) {
        return "<tormid.Alignment score " + number(a.score) + ", residues " + std::to_string(a.seq_from) + "-" +
               std::to_string(a.seq_to) + ", positions " + std::to_string(a.prf_from) + "-" +
               std::to_string(a.prf_to) + ">";
      });

  py::class_<PyHit>(m, "Hit", "One domain of one sequence against one profile, as the tables have it.")
      .def_readonly("profile", &PyHit::profile)
      .def_readonly("sequence", &PyHit::sequence)
      .def_readonly("description", &PyHit::description)
      .def_readonly("accession", &PyHit::accession, "The profile's accession, or None.")
      .def_readonly("seq_len", &PyHit::seq_len)
      .def_readonly("score", &PyHit::score)
      .def_readonly("evalue", &PyHit::evalue)
      .def_readonly("bits", &PyHit::bits)
      .def_readonly("bias", &PyHit::bias)
      .def_readonly("sequence_evalue", &PyHit::sequence_evalue)
      .def_readonly("seq_from", &PyHit::seq_from)
      .def_readonly("seq_to", &PyHit::seq_to)
      .def_readonly("prf_from", &PyHit::prf_from)
      .def_readonly("prf_to", &PyHit::prf_to)
      .def_readonly("domain", &PyHit::domain)
      .def_readonly("n_domains", &PyHit::n_domains)
      .def_readonly("prf_line", &PyHit::prf_line, "With alignments=True: the profile's consensus, '.' for gaps.")
      .def_readonly("seq_line", &PyHit::seq_line, "With alignments=True: the sequence, '.' for gaps.")
      .def_readonly("round", &PyHit::round, "With iterations: the round the hit's sequence joined (else 1).")
      .def("__repr__", [](const PyHit& h) {
        return "<tormid.Hit " + h.profile + " / " + h.sequence + " " + std::to_string(h.domain) + "/" +
               std::to_string(h.n_domains) + " residues " + std::to_string(h.seq_from) + "-" +
               std::to_string(h.seq_to) + " score " + number(h.score) + " E " + number(h.evalue) + ">";
      });

  m.def("read_profiles", &profiles_of_file, py::arg("path"), py::arg("threads") = 0,
        "Every profile of a file: tormid profiles, HMMER3 models (one or many), PSI-BLAST ASCII PSSMs or "
        "prepared libraries, plain or gzip-compressed.");
  m.def("align", &align_one, py::arg("profile"), py::arg("sequence"), py::arg("settings"),
        "Aligns one sequence against a profile, as tormid does: the same score, ends and lines.");
  m.def("scan", &search_records, py::arg("profiles"), py::arg("sequences"), py::arg("settings") = py::none(), py::kw_only(),
        py::arg("evalue") = kDefaultMaxEvalue, py::arg("min_score") = py::none(), py::arg("z") = py::none(),
        py::arg("max_domains") = 0, py::arg("threads") = 0, py::arg("per_sequence") = false,
        py::arg("alignments") = false, py::arg("iterations") = 1, py::arg("inc_evalue") = 1e-3,
        py::arg("cutoffs") = py::none(), py::arg("resolve_overlaps") = false,
        "Searches sequences (a FASTA path, plain or gzip, or an iterable of (name, sequence[, description]) "
        "pairs) with profiles, as tormid-scan does: the same hits in the same order. With iterations > 1, "
        "searches again with each profile built from its seed and the domains included (tormid-scan "
        "--iterations, --incE); Hit.round is the round a hit's sequence joined. cutoffs='ga', 'tc' or 'nc' "
        "reports what passes each profile's curated cutoffs (tormid-scan --cut_ga ...); resolve_overlaps keeps, of "
        "domains of different profiles overlapping by more than half, the most significant. Ctrl-C stops it at once "
        "(KeyboardInterrupt).");
  m.def("build", &build_from, py::arg("source"), py::arg("name") = py::none(),
        "Profiles built from a path (a Stockholm or FASTA file, as tormid-prf build: a profile per alignment, "
        "or per sequence of unaligned FASTA) or from (name, sequence) records: rows with gaps are one "
        "alignment, the profile `name` (default 'alignment'); sequences without gaps a profile each.");
}
