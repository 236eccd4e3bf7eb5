// The application's side of separations: module settings, the client against hostile
// servers, and whole separations against the real service started as the application
// starts it.
// The engine headers (Eigen) come before httplib, whose resolver header defines _res.
#include "appcore/SettingsManager.h"
#include "editing/ManualEditManager.h"
#include "separation/NetworkManager.h"
#include "separation/SeparationLauncher.h"
#include "separation/SeparatorSettings.h"
#include "support/TestSignals.h"
#include "support/TestTracks.h"
#include "tracks/Mixer.h"

#include "ServiceTestHelpers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace kalder;
using namespace kalder::separation;

namespace
{
struct ParamRow
{
    Module module;
    int id;
    const char* name;
    const char* displayName;
    juce::var defaultValue;
    std::vector<std::pair<const char*, const char*>> offered; // display text, stored value
};

/** The table every module's settings must follow, as users and stored files know it. */
std::vector<ParamRow> parameterTable()
{
    const std::vector<std::pair<const char*, const char*>> onOff { { "On", "On" }, { "Off", "Off" } };
    return {
        { Module::vocals, 0, "stereoSmoothing", "Stereo Smoothing", "On", onOff },
        { Module::vocals, 1, "sourcePosition", "Source Position", 1, { { "Left", "0" }, { "Center", "1" }, { "Right", "2" } } },
        { Module::vocals, 2, "panPreProcess", "Vocal Width", "On", { { "Narrow", "On" }, { "Wide", "Off" } } },
        { Module::vocals,
          3,
          "reverbProcess",
          "Vocal Reverb Extraction",
          "WithVocal",
          { { "None", "WithTrack" }, { "With Vocal", "WithVocal" }, { "Separate Track", "SeparateTrack" } } },
        { Module::vocals, 4, "mode", "Vocal Guide Mode", "Automatic", { { "Automatic", "Automatic" }, { "Guided", "Guided" } } },
        { Module::vocals,
          5,
          "vocalActivity",
          "Vocal Detection Sensitivity",
          "0.0",
          { { "High", "0.7" }, { "Medium", "0.5" }, { "Low", "0.3" }, { "No Vocal Detection", "0.0" } } },
        { Module::vocals, 6, "snareRemoval", "Snare Reduction", "Off", onOff },
        { Module::vocals, 7, "advancedFiltering", "Advanced Filtering", "On", onOff },
        { Module::vocals, 8, "backingTrack", "Backing Track", "On", onOff },
        { Module::pan,
          0,
          "nSources",
          "Number Of Sources",
          3,
          { { "3", "3" }, { "4", "4" }, { "5", "5" }, { "6", "6" }, { "7", "7" } } },
        { Module::pan, 1, "equalSpacing", "Equal Spacing", "On", onOff },
        { Module::pan, 2, "smear", "Smear", "Off", onOff },
        { Module::drums, 0, "stereoSmoothing", "Stereo Smoothing", "On", onOff },
        { Module::allVocals, 0, "gate", "Noise Gate", "true", { { "On", "true" }, { "Off", "false" } } },
        { Module::fourStems, 0, "gate", "Vocal Noise Gate", "true", { { "On", "true" }, { "Off", "false" } } },
    };
}

SeparationTracker::Ptr makeTracker()
{
    return new SeparationTracker (juce::File(), VocalSettings::getDefault());
}
} // namespace

TEST (SeparatorSettings, EveryModuleHasItsParametersDefaultsAndOfferedValues)
{
    const std::map<Module, std::pair<const char*, int>> modules {
        { Module::vocals, { "Vocal", 9 } },         { Module::pan, { "Pan", 3 } },
        { Module::drums, { "Drum", 1 } },           { Module::bass, { "Bass", 0 } },
        { Module::allVocals, { "All Vocals", 1 } }, { Module::fourStems, { "Four Stem", 1 } }
    };
    for (const auto& [module, nameAndCount] : modules)
    {
        const auto settings = SeparatorSettings::getDefaultFor (module);
        ASSERT_NE (settings, nullptr);
        EXPECT_EQ (settings->getModule(), module);
        EXPECT_EQ (settings->getSeparatorName(), nameAndCount.first);
        EXPECT_EQ (settings->getProperties().size(), nameAndCount.second);
        EXPECT_EQ (settings->getPossibleValuesForParam (nameAndCount.second).size(), 0) << "an id past the last";
        EXPECT_EQ (settings->getParam (nameAndCount.second), nullptr);
    }
    EXPECT_EQ (SeparatorSettings::getDefaultFor (Module::other), nullptr);

    for (const auto& row : parameterTable())
    {
        const auto settings = SeparatorSettings::getDefaultFor (row.module);
        const auto where = juce::String (settings->getSeparatorName()) + "/" + row.name;
        auto* param = dynamic_cast<SeparatorParam*> (settings->getProperty (row.name).getDynamicObject());
        ASSERT_NE (param, nullptr) << where;
        EXPECT_EQ (param, settings->getParam (row.id)) << where;
        EXPECT_EQ (param->getDisplayName(), row.displayName) << where;
        // The type counts: the source position and the source count are stored as ints.
        EXPECT_EQ (param->getValue().isInt(), row.defaultValue.isInt()) << where;
        EXPECT_EQ (param->getValue().toString(), row.defaultValue.toString()) << where;
        EXPECT_EQ (param->isShownInDialog(), ! (row.module == Module::vocals && row.id == 0)) << where;

        const auto pairs = settings->getPossibleValuesForParam (row.id);
        ASSERT_EQ (pairs.size(), (int) row.offered.size()) << where;
        for (size_t i = 0; i < row.offered.size(); ++i)
        {
            EXPECT_EQ (pairs.getAllKeys()[(int) i], row.offered[i].first) << where;
            EXPECT_EQ (pairs.getAllValues()[(int) i], row.offered[i].second) << where;
            // Every offered value is one the service takes for that parameter.
            EXPECT_TRUE (settings->setValue (row.name, row.offered[i].second)) << where << " " << row.offered[i].second;
            EXPECT_EQ (settings->getDisplayText (row.id), row.offered[i].first) << where;
        }
        EXPECT_FALSE (settings->setValue (row.name, "Loud")) << where;
    }
}

TEST (SeparatorSettings, StoredValuesPersistAreCheckedOnLoadAndResetKeepsTheObjects)
{
    test::TemporaryDirectory dir;
    const auto file = dir.get().getChildFile ("settings.json");
    auto makeManager = [&file] {
        auto defaults = SettingsManager::createDefaultSettings();
        SeparationSettings::addDefaults (defaults);
        return std::make_unique<SettingsManager> (file, defaults);
    };

    {
        auto settings = makeManager();
        auto vocal = SeparationSettings::get (*settings, Module::vocals);
        ASSERT_TRUE (vocal->setValue ("mode", SeparatorValues::guided));
        ASSERT_TRUE (SeparationSettings::get (*settings, Module::pan)->setValue ("nSources", "5"));
        ASSERT_TRUE (settings->groupChanged (SettingsIds::separation).wasOk());
    }
    {
        auto settings = makeManager();
        EXPECT_TRUE (SeparationSettings::sanitise (*settings).isEmpty());
        EXPECT_EQ (SeparationSettings::get (*settings, Module::vocals)->getParameterValues()["mode"].toString(), "Guided");
        const auto sources = SeparationSettings::get (*settings, Module::pan)->getParameterValues()["nSources"];
        EXPECT_TRUE (sources.isInt());
        EXPECT_EQ ((int) sources, 5);
    }

    // A hand-edited file: a value no module offers, and a module replaced by a number.
    auto text = file.loadFileAsString().replace ("\"Guided\"", "\"Loud\"");
    ASSERT_TRUE (file.replaceWithText (text.replace ("\"gate\"", "\"gateX\"")));
    {
        auto settings = makeManager();
        const auto corrected = SeparationSettings::sanitise (*settings);
        EXPECT_TRUE (corrected.contains ("vocal/mode")) << corrected.joinIntoString (", ");
        EXPECT_EQ (SeparationSettings::get (*settings, Module::vocals)->getParameterValues()["mode"].toString(), "Automatic");

        // Reset visits only the modules present, and keeps each stored object.
        auto* group = settings->getGroup (SettingsIds::separation);
        auto pan = SeparationSettings::get (*settings, Module::pan);
        group->removeProperty (SettingsIds::vocalModule);
        SeparationSettings::resetToDefaults (*settings);
        EXPECT_EQ (SeparationSettings::get (*settings, Module::pan).get(), pan.get());
        EXPECT_EQ ((int) pan->getParameterValues()["nSources"], 3);
        EXPECT_FALSE (group->hasProperty (SettingsIds::vocalModule));

        // Without a "separation" group, nothing happens.
        settings->getSettings()->removeProperty (SettingsIds::separation);
        SeparationSettings::resetToDefaults (*settings);
        EXPECT_EQ (settings->getGroup (SettingsIds::separation), nullptr);
    }
}

TEST (SeparationTracker, LabelFollowsTheStages)
{
    struct Row
    {
        float upload, separation, files;
        const char* event;
        int downloaded;
        juce::int64 bytes;
        const char* label;
    };
    const Row rows[] = {
        { 0.0f, 0.0f, 0.0f, "", 0, 0, "Separation: initialising" },
        { 0.45f, 0.0f, 0.0f, "", 0, 0, "Separation: uploading 45%" },
        { 1.0f, 0.0f, 0.0f, "Queued", 0, 0, "Separation: queued" },
        { 1.0f, 0.3f, 0.0f, "", 0, 0, "Separation: processing" },
        { 1.0f, 0.3f, 0.0f, "Separating Drums", 0, 0, "Separation: separating drums" },
        { 1.0f, 1.0f, 0.5f, "Done", 1, 5 * 1024, "Separation: downloading file 2 5KB" },
        { 1.0f, 1.0f, 1.0f, "Done", 2, 2048, "Separation: downloading file 2 2KB" },
    };
    for (const auto& row : rows)
    {
        auto t = makeTracker();
        t->uploadProgress = row.upload;
        t->separationProgress = row.separation;
        t->outputFilesProgress = row.files;
        t->event = juce::String (row.event);
        t->bytesDownload = row.bytes;
        for (int i = 0; i < row.downloaded; ++i)
            t->getOutputFiles().set ("f" + juce::String (i), {});
        EXPECT_EQ (t->getLabel(), row.label);
    }
}

//==============================================================================
namespace
{
/** A server that plays the separation service, each request's answer replaceable. */
struct FakeService
{
    FakeService()
    {
        port = server.bind_to_any_port ("127.0.0.1");
        base = "http://127.0.0.1:" + std::to_string (port) + "/";
        server.Post ("/api/separation/create", [this] (const httplib::Request& q, httplib::Response& r) { create (q, r); });
        server.Put ("/upload",
                    [] (const httplib::Request&, httplib::Response& r) { json (r, R"({"errorCode":0,"object":{}})"); });
        server.Put ("/api/separation/start", [] (const httplib::Request&, httplib::Response& r) {
            json (r, R"({"errorCode":0,"object":{"separationId":"s1"}})");
        });
        server.Get (R"(/api/separation/progress/.*)",
                    [this] (const httplib::Request& q, httplib::Response& r) { progress (q, r); });
        server.Get (R"(/api/separation/files/.*)", [this] (const httplib::Request& q, httplib::Response& r) { files (q, r); });
        server.Get ("/download", [this] (const httplib::Request& q, httplib::Response& r) { download (q, r); });
        server.Post (R"(/api/separation/cancel/.*)", [this] (const httplib::Request&, httplib::Response& r) {
            ++cancels;
            json (r, R"({"errorCode":0,"object":{}})");
        });
        thread = std::thread ([this] { server.listen_after_bind(); });
        while (! server.is_running())
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    ~FakeService()
    {
        server.stop();
        thread.join();
    }

    static void json (httplib::Response& r, const std::string& body, int status = 200)
    {
        r.status = status;
        r.set_content (body, "application/json");
    }

    std::function<void (const httplib::Request&, httplib::Response&)> create = [this] (const httplib::Request&,
                                                                                       httplib::Response& r) {
        json (r, R"({"errorCode":0,"object":{"separationId":"s1","signedUrl":")" + base + R"(upload","method":"PUT"}})");
    };
    std::function<void (const httplib::Request&, httplib::Response&)> progress = [] (const httplib::Request&,
                                                                                     httplib::Response& r) {
        json (r, R"({"errorCode":0,"progress":1,"event":"Done","done":true})");
    };
    std::function<void (const httplib::Request&, httplib::Response&)> files = [this] (const httplib::Request&,
                                                                                      httplib::Response& r) {
        json (r, R"({"errorCode":0,"outputFiles":[{"name":"vocals.wav","signedUrl":")" + base + R"(download","size":11}]})");
    };
    std::function<void (const httplib::Request&, httplib::Response&)> download =
        [] (const httplib::Request&, httplib::Response& r) { r.set_content ("hello world", "audio/wav"); };

    httplib::Server server;
    int port = 0;
    std::string base;
    std::thread thread;
    std::atomic<int> cancels { 0 };
};

std::string fileList (const std::vector<std::string>& names, const std::string& base)
{
    std::string list = R"({"errorCode":0,"outputFiles":[)";
    for (size_t i = 0; i < names.size(); ++i)
        list += (i > 0 ? "," : "") + std::string (R"({"name":")") + names[i] + R"(","signedUrl":")" + base
                + R"(download","size":11})";
    return list + "]}";
}

/** A project of one short track and what a separation needs. */
struct SeparationBench
{
    explicit SeparationBench (int sampleRate = 22050, double seconds = 0.5, LocalSeparationService::Options local = {})
        : network (std::move (local))
    {
        track = test::makeTrack (dir.get().getChildFile ("song"), "Song", test::makeMixture (sampleRate, seconds), sampleRate);
        mixer.setMasterTrack (track);
        work = dir.get().getChildFile ("work");
        work.createDirectory();
        launcher.setWorkFolder (work);
    }

    SeparationLauncher::Refusal start (Module module, SeparatorSettings::Ptr settings = nullptr)
    {
        outcome.reset();
        SeparationLauncher::Request request;
        request.track = track;
        request.module = module;
        request.settings = settings != nullptr || module == Module::other ? settings : SeparatorSettings::getDefaultFor (module);
        return launcher.start (
            request, [this] (const SeparationLauncher::Outcome& o) { outcome = o; }, &failure);
    }

    bool waitForEnd (int timeoutMs = 60000)
    {
        return test::pumpMessagesUntil ([this] { return outcome.has_value(); }, timeoutMs);
    }

    /** What the project holds besides the track's own folder and the (empty) work folder. */
    juce::StringArray strayFiles() const
    {
        juce::StringArray stray;
        for (const auto& f : dir.get().findChildFiles (juce::File::findFilesAndDirectories, true))
            if (! f.isAChildOf (dir.get().getChildFile ("song")) && f != dir.get().getChildFile ("song") && f != work)
                stray.add (f.getRelativePathFrom (dir.get()));
        return stray;
    }

    test::TemporaryDirectory dir;
    Mixer mixer;
    NetworkManager network;
    SeparationLauncher launcher { mixer, network };
    AudioTrack::Ptr track;
    juce::File work;
    std::optional<SeparationLauncher::Outcome> outcome;
    juce::String failure;
};
} // namespace

TEST (SeparationClient, HostileServersEndInAClearFailureAndLeaveNothingBehind)
{
    using Handler = std::function<void (const httplib::Request&, httplib::Response&)>;
    struct Case
    {
        const char* what;
        std::function<void (FakeService&)> setUp;
        const char* message; // part of what the user reads
    };

    auto answer = [] (std::string body, int status = 200) -> Handler {
        return [body, status] (const httplib::Request&, httplib::Response& r) { FakeService::json (r, body, status); };
    };
    auto list = [] (std::vector<std::string> names) {
        return [names] (FakeService& s) {
            s.files = [&s, names] (const httplib::Request&, httplib::Response& r) {
                FakeService::json (r, fileList (names, s.base));
            };
        };
    };
    std::string deep (20000, '[');
    deep += std::string (20000, ']');
    std::vector<std::string> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back ("s" + std::to_string (i) + ".wav");

    const std::vector<Case> cases {
        { "refused token", [&] (FakeService& s) { s.create = answer (R"({"errorCode":1,"Message":"Bad token"})", 401); },
          "access token" },
        { "4xx with a message",
          [&] (FakeService& s) { s.create = answer (R"({"errorCode":1,"Message":"Quota exceeded"})", 429); },
          "Quota exceeded (429)" },
        { "5xx without JSON", [&] (FakeService& s) { s.create = answer ("<html>Bad gateway</html>", 502); }, "status 502" },
        { "error code without message", [&] (FakeService& s) { s.create = answer (R"({"errorCode":true})"); },
          "An unexpected error occured." },
        { "not JSON", [&] (FakeService& s) { s.create = answer ("hello"); }, "could not be read" },
        { "nested 20000 deep", [&] (FakeService& s) { s.create = answer (deep); }, "could not be read" },
        { "larger than the limit", [&] (FakeService& s) { s.create = answer (std::string (3 << 20, ' ') + "{}"); },
          "larger than" },
        { "says nothing",
          [] (FakeService& s) {
              s.create = [] (const httplib::Request&, httplib::Response& r) {
                  std::this_thread::sleep_for (std::chrono::milliseconds (1500));
                  FakeService::json (r, "{}");
              };
          },
          "did not answer in time" },
        { "trickles a byte at a time",
          [] (FakeService& s) {
              s.create = [] (const httplib::Request&, httplib::Response& r) {
                  r.set_chunked_content_provider ("application/json", [] (size_t offset, httplib::DataSink& sink) {
                      std::this_thread::sleep_for (std::chrono::milliseconds (200));
                      return offset < 12 && sink.write ("{", 1);
                  });
              };
          },
          "did not answer in time" },
        { "redirect",
          [] (FakeService& s) {
              s.create = [] (const httplib::Request&, httplib::Response& r) { r.set_redirect ("http://example.com/"); };
          },
          "redirects are not followed" },
        { "signed link to another machine over HTTP",
          [] (FakeService& s) {
              s.create = [] (const httplib::Request&, httplib::Response& r) {
                  FakeService::json (
                      r, R"({"errorCode":0,"object":{"separationId":"s1","signedUrl":"http://192.0.2.1/u","method":"PUT"}})");
              };
          },
          "plain HTTP link to another machine" },
        { "progress backwards, above 100 %, then a failure",
          [] (FakeService& s) {
              auto step = std::make_shared<std::atomic<int>> (0);
              s.progress = [step] (const httplib::Request&, httplib::Response& r) {
                  const char* answers[] = { R"({"progress":0.8,"event":"a","done":false})",
                                            R"({"progress":0.3,"event":"b","done":false})",
                                            R"({"progress":1.7,"event":"c","done":false})",
                                            R"({"progress":1,"done":true,"error":true,"message":"engine broke"})" };
                  FakeService::json (r, answers[juce::jmin (3, (*step)++)]);
              };
          },
          "engine broke" },
        { "file name climbing out", list ({ "../x.wav" }), "not safe" },
        { "absolute file name", list ({ "/etc/passwd" }), "not safe" },
        { "file name through a folder", list ({ "a/../../b.wav" }), "not safe" },
        { "file name with NUL", list ({ "a\\u0000b.wav" }), "could not be read" },
        { "file name with a control character", list ({ "a\\nb.wav" }), "not safe" },
        { "10000-character file name", list ({ std::string (10000, 'v') + ".wav" }), "not safe" },
        { "reserved device name", list ({ "CON.wav" }), "not safe" },
        { "the same file twice", list ({ "vocals.wav", "Vocals.wav" }), "twice" },
        { "thousands of files", list (many), "at most" },
        { "an \"error\" member in the list", [&] (FakeService& s) { s.files = answer (R"({"error":false,"outputFiles":[]})"); },
          "An unexpected error occured." },
        { "download stops half way",
          [] (FakeService& s) {
              s.download = [] (const httplib::Request&, httplib::Response& r) {
                  r.set_content_provider (11, "audio/wav", [] (size_t, size_t, httplib::DataSink& sink) {
                      sink.write ("RIFF0", 5);
                      return false;
                  });
              };
          },
          "communicating with our servers" },
        { "download larger than announced",
          [] (FakeService& s) {
              s.download = [] (const httplib::Request&, httplib::Response& r) {
                  r.set_content (std::string (5000, 'x'), "audio/wav");
              };
          },
          "larger than 11 bytes" },
        { "download that is not audio", [] (FakeService&) {}, "not a WAV file" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        FakeService service;
        c.setUp (service);
        SeparationBench bench;
        ServiceEndpoint endpoint { juce::String (service.base), "token" };
        endpoint.answerTimeoutMs = 800;
        ASSERT_TRUE (bench.network.useRemoteService (endpoint).wasOk());
        ASSERT_EQ (bench.start (Module::vocals), SeparationLauncher::Refusal::none) << bench.failure;
        EXPECT_TRUE (bench.track->isBusy());
        ASSERT_TRUE (bench.waitForEnd (20000));

        EXPECT_TRUE (bench.outcome->result.failed());
        EXPECT_TRUE (bench.outcome->getMessage().startsWith ("Impossible to run separation: "));
        EXPECT_TRUE (bench.outcome->getMessage().contains (c.message)) << bench.outcome->getMessage();
        EXPECT_FALSE (bench.track->isBusy()) << "a failed separation releases its track";
        EXPECT_EQ (bench.track->getSeparationTracker(), nullptr);
        EXPECT_EQ (bench.mixer.getAllTracks().size(), 1);
        EXPECT_TRUE (bench.strayFiles().isEmpty()) << bench.strayFiles().joinIntoString (", ");
        // Whatever the service had started is dropped there too (the create answer named an id).
        if (juce::String (c.message) == "engine broke")
        {
            EXPECT_GE (bench.outcome->tracker->separationProgress.get(), 0.8f) << "held at its highest";
            EXPECT_LE (bench.outcome->tracker->separationProgress.get(), 1.0f);
        }
    }

    // Unreachable: nothing listens there.
    SeparationBench bench;
    ASSERT_TRUE (bench.network.useRemoteService ({ "http://127.0.0.1:1/", "token" }).wasOk());
    ASSERT_EQ (bench.start (Module::drums), SeparationLauncher::Refusal::none);
    ASSERT_TRUE (bench.waitForEnd());
    EXPECT_TRUE (bench.outcome->getMessage().contains ("could not be reached")) << bench.outcome->getMessage();
    EXPECT_FALSE (bench.track->isBusy());

    // A remote service must be HTTPS; plain HTTP only on this machine.
    EXPECT_TRUE (bench.network.useRemoteService ({ "http://192.0.2.7/", "t" }).failed());
    EXPECT_TRUE (bench.network.useRemoteService ({ "ftp://127.0.0.1/", "t" }).failed());
    EXPECT_TRUE (bench.network.useRemoteService ({ "https://separate.example.com/", "t" }).wasOk());
    EXPECT_TRUE (bench.network.useRemoteService ({ "https://separate.example.com/", "" }).failed());
}

//==============================================================================
namespace
{
LocalSeparationService::Options embedded (const juce::File& folder)
{
    LocalSeparationService::Options o;
    o.executable = juce::File (KALDER_SERVICE_BINARY);
    o.dataFolder = folder;
    return o;
}

/** How far the children's sum is from the track (dB of error below the signal). */
double sumErrorDb (const AudioTrack& track, const juce::ReferenceCountedArray<AudioTrack>& children)
{
    const auto n = (int) track.getNumSamples();
    double signal = 0.0, error = 0.0;
    for (int c = 0; c < track.getNumChannels(); ++c)
    {
        std::vector<float> source ((size_t) n), sum ((size_t) n, 0.0f), part ((size_t) n);
        track.getContent()->audio->readFrames (c, 0, n, source.data());
        for (auto* child : children)
        {
            child->getContent()->audio->readFrames (c, 0, n, part.data());
            for (int i = 0; i < n; ++i)
                sum[(size_t) i] += part[(size_t) i];
        }
        for (int i = 0; i < n; ++i)
        {
            signal += (double) source[(size_t) i] * source[(size_t) i];
            error += std::pow ((double) sum[(size_t) i] - source[(size_t) i], 2.0);
        }
    }
    return 10.0 * std::log10 (signal / juce::jmax (error, 1e-30));
}
} // namespace

TEST (SeparationClient, TheEmbeddedServiceSeparatesIntoChildTracksThatAddUpToTheTrack)
{
    test::TemporaryDirectory serviceFolder;
    SeparationBench bench (44100, 2.0, embedded (serviceFolder.get()));
    struct Run
    {
        Module module;
        juce::StringArray names;
    };
    for (const auto& run :
         { Run { Module::vocals, { "Vocals", "Track" } }, Run { Module::fourStems, { "Vocals", "Bass", "Drums", "Other" } } })
    {
        ASSERT_EQ (bench.start (run.module), SeparationLauncher::Refusal::none) << bench.failure;
        ASSERT_TRUE (bench.waitForEnd());
        ASSERT_TRUE (bench.outcome->result.wasOk()) << bench.outcome->getMessage();
        const auto& children = bench.outcome->children;
        ASSERT_EQ (children.size(), run.names.size());
        for (int i = 0; i < children.size(); ++i)
        {
            EXPECT_EQ (children[i]->getName(), run.names[i]);
            EXPECT_EQ (children[i]->getParentTrack(), bench.track.get());
            EXPECT_EQ (children[i]->getSampleRate(), 44100);
            EXPECT_EQ (children[i]->getNumSamples(), bench.track->getNumSamples());
            EXPECT_EQ (children[i]->getBitsPerSample(), bench.track->getBitsPerSample());
            EXPECT_TRUE (test::pumpMessagesUntil ([&] { return children[i]->isStoreReady(); })) << "analysed afterwards";
            EXPECT_EQ (bench.mixer.getAllTracks()[bench.mixer.getAllTracks().indexOf (bench.track.get()) + 1 + i], children[i]);
        }
        EXPECT_GT (sumErrorDb (*bench.track, children), 90.0);
        EXPECT_TRUE (bench.track->isMuted()) << "the children play in its place";
        EXPECT_FALSE (bench.track->isBusy());

        // One undo step takes them out again, and the track plays again.
        ASSERT_TRUE (bench.track->getManualEditManager().undo().wasChanged());
        EXPECT_EQ (bench.mixer.getAllTracks().size(), 1);
        EXPECT_FALSE (bench.track->isMuted());
    }

    // A range: the children hold the range only, and are silent elsewhere.
    SeparationLauncher::Request request;
    request.track = bench.track;
    request.module = Module::bass;
    request.settings = BassSettings::getDefault();
    const auto blocks = juce::Range<int> (bench.track->getNumBlocks() / 4, bench.track->getNumBlocks() / 2);
    request.blocks = blocks;
    bench.outcome.reset();
    ASSERT_EQ (bench.launcher.start (request, [&bench] (const SeparationLauncher::Outcome& o) { bench.outcome = o; }),
               SeparationLauncher::Refusal::none);
    ASSERT_TRUE (bench.waitForEnd());
    ASSERT_TRUE (bench.outcome->result.wasOk()) << bench.outcome->getMessage();
    ASSERT_EQ (bench.outcome->children.size(), 2);
    EXPECT_FALSE (bench.track->isMuted()) << "outside the range only the track plays";
    {
        const auto hop = bench.track->getBufferSize();
        std::vector<float> part ((size_t) bench.track->getNumSamples());
        bench.outcome->children[0]->getContent()->audio->readFrames (0, 0, (int) part.size(), part.data());
        float outside = 0.0f, inside = 0.0f;
        for (size_t i = 0; i < part.size(); ++i)
            ((int) i >= blocks.getStart() * hop && (int) i < blocks.getEnd() * hop ? inside : outside) += std::abs (part[i]);
        EXPECT_EQ (outside, 0.0f);
        EXPECT_GT (inside, 0.0f);
    }
    ASSERT_TRUE (bench.track->getManualEditManager().undo().wasChanged());

    // Guided vocals: refused while the track has no pitch line; with a line over the
    // first half only, the guide the request carries leaves the second half without voice.
    auto guided = VocalSettings::getDefault()->makeCopy();
    ASSERT_TRUE (guided->setValue ("mode", SeparatorValues::guided));
    ASSERT_EQ (bench.start (Module::vocals, guided), SeparationLauncher::Refusal::noPitchGuideEditorClosed);
    bench.track->getPgram().addLine (std::make_shared<const PitchLine> (
        std::vector<PitchLine::Node> { { 0.0f, PitchLine::midiToY (57.0f) }, { 0.5f, PitchLine::midiToY (57.0f) } }));
    ASSERT_EQ (bench.start (Module::vocals, guided), SeparationLauncher::Refusal::none) << bench.failure;
    ASSERT_TRUE (bench.waitForEnd());
    ASSERT_TRUE (bench.outcome->result.wasOk()) << bench.outcome->getMessage();
    {
        std::vector<float> voice ((size_t) bench.track->getNumSamples());
        bench.outcome->children[0]->getContent()->audio->readFrames (0, 0, (int) voice.size(), voice.data());
        double sung = 0.0, after = 0.0;
        for (size_t i = 0; i < voice.size(); ++i)
            (i < voice.size() / 2 ? sung : (i >= voice.size() * 3 / 4 ? after : sung)) += (double) voice[i] * voice[i];
        EXPECT_GT (sung, 0.0);
        EXPECT_LT (after, 0.01 * sung);
    }
    ASSERT_TRUE (bench.track->getManualEditManager().undo().wasChanged());
    bench.track->getPgram().clear();

    // Cancelled while it runs: the service is told, nothing stays, the track is free.
    auto folders = [&bench] { return bench.dir.get().findChildFiles (juce::File::findFilesAndDirectories, false).size(); };
    const auto before = folders(); // the undone children's, kept for a redo (still being analysed)
    ASSERT_EQ (bench.start (Module::fourStems), SeparationLauncher::Refusal::none);
    ASSERT_EQ (bench.start (Module::bass), SeparationLauncher::Refusal::trackLocked) << "one separation of a track at a time";
    auto tracker = bench.network.getSeparations().getFirst();
    ASSERT_TRUE (test::pumpMessagesUntil ([&] { return tracker->getStatus() == SeparationTracker::Status::running; }));
    bench.network.cancel (tracker);
    ASSERT_TRUE (bench.waitForEnd());
    EXPECT_TRUE (bench.outcome->wasCancelled());
    EXPECT_FALSE (bench.track->isBusy());
    EXPECT_EQ (bench.mixer.getAllTracks().size(), 1);
    EXPECT_EQ (folders(), before);
    EXPECT_TRUE (bench.work.findChildFiles (juce::File::findFilesAndDirectories, true).isEmpty());
    EXPECT_TRUE (test::pumpMessagesUntil (
        [&] { return serviceFolder.get().getChildFile ("jobs").findChildFiles (juce::File::findDirectories, false).isEmpty(); }));

    // The service dies: it comes back once, and separations work again.
    auto& local = bench.network.getLocalService();
    const auto pid = local.getProcessId();
    ASSERT_GT (pid, 0);
    ::kill (pid, SIGKILL);
    ASSERT_TRUE (test::pumpMessagesUntil ([&] { return local.hasBeenRestarted() && local.isRunning(); }, 10000));
    EXPECT_NE (local.getProcessId(), pid);
    ASSERT_EQ (bench.start (Module::drums), SeparationLauncher::Refusal::none) << bench.failure;
    ASSERT_TRUE (bench.waitForEnd());
    EXPECT_TRUE (bench.outcome->result.wasOk()) << bench.outcome->getMessage();

    // The version check and download, into a folder of its own (never a fixed name in a shared one).
    ASSERT_TRUE (serviceFolder.get().getChildFile ("releases").createDirectory());
    ASSERT_TRUE (serviceFolder.get().getChildFile ("releases/KP-1.3.0-linux.zip").replaceWithText ("release"));
    SeparationServiceClient client (bench.network.getEndpoint());
    SeparationServiceClient::VersionInfo latest;
    ASSERT_TRUE (client.getLatestVersion ("1.0.0", latest).wasOk());
    EXPECT_EQ (latest.version, "1.3.0");
    EXPECT_TRUE (latest.newer);
    juce::File archive;
    ASSERT_TRUE (client.downloadVersion ("1.3.0", bench.work, archive).wasOk());
    EXPECT_EQ (archive.getFileName(), "tempVersion.zip");
    EXPECT_TRUE (archive.getParentDirectory().isAChildOf (bench.work));
    EXPECT_EQ (archive.loadFileAsString(), "release");
    EXPECT_EQ (client.downloadVersion ("9.9.9", bench.work, archive).getErrorMessage(),
               "There is no release 9.9.9 of KP for linux (404)");
}
