// Operations against the simulator's codec model, with the notifications a
// codec sends after them: a dialled call, a setter's change notification,
// and a directory list paged to its end.
#include <chrono>
#include <set>
#include <vector>

#include "csapi/client/csapi_callback.h"
#include "ops_fixture.h"

namespace opstest {
namespace {

class ModelTest : public OpsTest {
 protected:
  bool UseModel() const override { return true; }
};

struct Seen {
  std::vector<CSTerm> terms;
  std::vector<unsigned> termFlags;
  std::vector<CSConf> confs;
  std::vector<CSAudio> audios;
  std::vector<unsigned> audioFlags;
};

void OnTerm(const void *rec, unsigned int flags, uintptr_t user) {
  auto *s = reinterpret_cast<Seen *>(user);
  s->terms.push_back(*static_cast<const CSTerm *>(rec));
  s->termFlags.push_back(flags);
}
void OnConf(const void *rec, unsigned int, uintptr_t user) {
  reinterpret_cast<Seen *>(user)->confs.push_back(*static_cast<const CSConf *>(rec));
}
void OnAudio(const void *rec, unsigned int flags, uintptr_t user) {
  auto *s = reinterpret_cast<Seen *>(user);
  s->audios.push_back(*static_cast<const CSAudio *>(rec));
  s->audioFlags.push_back(flags);
}

// Processes notifications until done() or five seconds passed.
template <typename F>
bool ProcessUntil(F done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    csCallbackProcess(100);
  }
  return true;
}

TEST_F(ModelTest, DialIsFollowedByTerminalAndConferenceNotifications) {
  Seen seen;
  ASSERT_GE(csCallbackAdd(inst_, "csTermChangedCB", &OnTerm, reinterpret_cast<uintptr_t>(&seen)), 1);
  ASSERT_GE(csCallbackAdd(inst_, "csConfChangedCB", &OnConf, reinterpret_cast<uintptr_t>(&seen)), 1);
  CSComm comm{};
  ASSERT_EQ(csCommGet(&comm, inst_), 0);
  EXPECT_EQ(comm.srvrInstance, inst_);
  ASSERT_GE(csCommConfCount(&comm), 1);
  CSConf conf{};
  ASSERT_EQ(csConfGet(&conf, &comm, 0u), 0);
  int before = csConfTermCount(&conf);
  ASSERT_GE(before, 0);

  ASSERT_GE(csConfTermDial(&conf, 768u, "10.1.2.3"), 0);
  // Dialing (2), then Alerting (3), then Active (0), all for one terminal.
  auto states = [&] {
    std::vector<unsigned> v;
    for (const CSTerm &t : seen.terms) v.push_back(t.state);
    return v;
  };
  ASSERT_TRUE(ProcessUntil([&] { return seen.terms.size() >= 3 && !seen.confs.empty(); }))
      << "terminal notifications: " << seen.terms.size() << ", conference: " << seen.confs.size();
  EXPECT_EQ(states(), (std::vector<unsigned>{2, 3, 0}));
  for (size_t i = 0; i < seen.terms.size(); ++i) {
    EXPECT_EQ(seen.terms[i].handle, seen.terms[0].handle);
    EXPECT_EQ(seen.terms[i].srvrInstance, inst_);
    EXPECT_NE(seen.termFlags[i] & CSTERM_STATE_FIELD, 0u);
  }
  EXPECT_STREQ(seen.terms[0].addr, "10.1.2.3");
  EXPECT_EQ(seen.terms[0].rate, 768u);
  EXPECT_EQ(seen.confs.back().handle, conf.handle);
  EXPECT_EQ(seen.confs.back().numTerms, static_cast<unsigned>(before + 1));

  // The codec's own view agrees: one more terminal, and it is the active call.
  ASSERT_EQ(csConfTermCount(&conf), before + 1);
  CSTerm term{};
  term.handle = seen.terms[0].handle;
  ASSERT_EQ(csTermGetByID(&term, &conf, seen.terms[0].id), 0);
  EXPECT_EQ(term.handle, seen.terms[0].handle);
  EXPECT_EQ(term.state, 0u);

  // Hanging up takes it to Disconnected (7).
  seen.terms.clear();
  ASSERT_GE(csTermHangup(&term, 0), 0);
  ASSERT_TRUE(ProcessUntil([&] { return !seen.terms.empty(); }));
  EXPECT_EQ(seen.terms[0].handle, term.handle);
  EXPECT_EQ(seen.terms[0].state, 7u);
}

TEST_F(ModelTest, SetterAppliesFlaggedFieldsAndAnnouncesTheChange) {
  Seen seen;
  ASSERT_GE(csCallbackAdd(inst_, "csAudioChangedCB", &OnAudio, reinterpret_cast<uintptr_t>(&seen)), 1);
  CSAudio audio{};
  ASSERT_EQ(csAudioGet(&audio, inst_), 0);
  CSAudio wanted = audio;
  wanted.volume = audio.volume == 33 ? 34 : 33;
  ASSERT_GE(csAudioSet(&wanted, CSAUDIO_VOLUME_FIELD), 0);
  ASSERT_TRUE(ProcessUntil([&] { return !seen.audios.empty(); }));
  EXPECT_NE(seen.audioFlags[0] & CSAUDIO_VOLUME_FIELD, 0u);
  EXPECT_EQ(seen.audios[0].volume, wanted.volume);
  EXPECT_EQ(seen.audios[0].handle, audio.handle);

  CSAudio now{};
  ASSERT_EQ(csAudioGet(&now, inst_), 0);
  EXPECT_EQ(now.volume, wanted.volume);
}

// The codec applies only the flagged fields of a set record. Disabled: the
// simulator's model merges every member it is sent (a fault of the model,
// not of the operation, which sends the whole record as it must).
TEST_F(ModelTest, SetterLeavesUnflaggedFieldsAlone) {
  CSAudio audio{};
  ASSERT_EQ(csAudioGet(&audio, inst_), 0);
  CSAudio wanted = audio;
  wanted.volume = audio.volume == 33 ? 34 : 33;
  wanted.muteAutoAnswer = !audio.muteAutoAnswer;
  ASSERT_GE(csAudioSet(&wanted, CSAUDIO_VOLUME_FIELD), 0);
  CSAudio now{};
  ASSERT_EQ(csAudioGet(&now, inst_), 0);
  EXPECT_EQ(now.volume, wanted.volume);
  EXPECT_EQ(now.muteAutoAnswer, audio.muteAutoAnswer) << "an unflagged field was applied";
}

// Pages through a directory server's entries; the ids in the order given.
std::vector<std::string> PageAll(const CSDirSrvr &srvr, int pageSize, int *pages) {
  std::vector<std::string> ids;
  CSDirEnt filter{};
  int h = csDirSrvrListStart(&srvr, 0, &filter, 0xFFFFFFFFu);
  EXPECT_GE(h, 0);
  if (h < 0) return ids;
  auto list = std::make_unique<CSDirList>();
  int rc = 0;
  *pages = 0;
  for (int i = 0; i < 1000; ++i) {  // bounded: a model never holds this many pages
    rc = csDirListGet(list.get(), &srvr, h, 6000, pageSize);
    if (rc != 0) break;
    ++*pages;
    EXPECT_EQ(list->srvrInstance, srvr.srvrInstance);
    EXPECT_GE(list->listCount, 1);
    EXPECT_LE(list->listCount, pageSize);
    for (int e = 0; e < list->listCount; ++e) ids.push_back(list->list[e].id);
  }
  EXPECT_EQ(rc, CSAPI_ERR_EOF);
  EXPECT_EQ(csError(), CSAPI_ERR_EOF);
  EXPECT_EQ(csDirSrvrListStop(&srvr, h), 0);
  return ids;
}

TEST_F(ModelTest, DirectoryListIsPagedToEof) {
  CSDir dir{};
  ASSERT_EQ(csDirGet(&dir, inst_), 0);
  int servers = csDirSrvrCount(&dir, 3);
  ASSERT_GE(servers, 1);
  CSDirSrvr srvr{};
  ASSERT_EQ(csDirSrvrGet(&srvr, &dir, 0, 3), 0);
  EXPECT_EQ(srvr.protocol, 3);

  int smallPages = 0, bigPages = 0;
  std::vector<std::string> paged = PageAll(srvr, 2, &smallPages);
  std::vector<std::string> whole = PageAll(srvr, 64, &bigPages);
  ASSERT_GT(whole.size(), 2u) << "the model should hold more than one page";
  EXPECT_EQ(paged, whole) << "paging changed what was listed";
  EXPECT_EQ(smallPages, static_cast<int>((whole.size() + 1) / 2));
  EXPECT_EQ(std::set<std::string>(whole.begin(), whole.end()).size(), whole.size()) << "an entry came twice";

  // A stopped list is gone.
  auto list = std::make_unique<CSDirList>();
  CSDirEnt filter{};
  int h = csDirSrvrListStart(&srvr, 0, &filter, 0xFFFFFFFFu);
  ASSERT_GE(h, 0);
  ASSERT_EQ(csDirSrvrListStop(&srvr, h), 0);
  EXPECT_LT(csDirListGet(list.get(), &srvr, h, 6000, 10), 0);
}

TEST_F(ModelTest, InjectedErrorIsReturnedByTheOperation) {
  CSAudio audio{};
  ASSERT_EQ(csAudioGet(&audio, inst_), 0);
  codec_sim_inject_error(sim_, "csAudioMute", -28, "", 1);
  EXPECT_EQ(csAudioMute(&audio, 1u), CSAPI_ERR_BUSY);
  EXPECT_GE(csAudioMute(&audio, 1u), 0);
}

}  // namespace
}  // namespace opstest
