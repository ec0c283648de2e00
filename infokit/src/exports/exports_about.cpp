// The about box's exports: its text setters and the box itself.
#include <QApplication>

#include "about_box.h"
#include "diag_log.h"
#include "export_text.h"
#include "exports_shared.h"

using namespace infokit;
using namespace infokit::exports;

namespace {

using F = AboutRecord::Field;

void set(F field, const std::optional<std::string>& text) {
    if (text) state().about.texts[field] = cutToField(*text, aboutFieldSize(field));
}

}  // namespace

#define INFOKIT_ABOUT_SETTER(name, field)                                    \
    void name##W(const ikWChar* text) { set(F::field, in(text)); }           \
    void name(const char* text) { set(F::field, in(text)); }

extern "C" {

INFOKIT_ABOUT_SETTER(info_setprogname, ProgName)
INFOKIT_ABOUT_SETTER(info_setautors, Authors)
INFOKIT_ABOUT_SETTER(info_setcopyrighttext, CopyrightText)
INFOKIT_ABOUT_SETTER(info_setcompany, Company)
INFOKIT_ABOUT_SETTER(info_setstreet, Street)
INFOKIT_ABOUT_SETTER(info_setcity, City)
INFOKIT_ABOUT_SETTER(info_setphone, Phone)
INFOKIT_ABOUT_SETTER(info_seturlTavrena, UrlMaker)
INFOKIT_ABOUT_SETTER(info_seturlinfo, UrlInfo)
INFOKIT_ABOUT_SETTER(info_seturlsupport, UrlSupport)
INFOKIT_ABOUT_SETTER(info_seturluplift, UrlUplift)
INFOKIT_ABOUT_SETTER(info_seturlupdate, UrlUpdate)
INFOKIT_ABOUT_SETTER(info_setcopyrightex1, CopyrightEx1)
INFOKIT_ABOUT_SETTER(info_setcopyrightex2, CopyrightEx2)
INFOKIT_ABOUT_SETTER(info_setfileversionstext, FileVersionsText)

void info_setfileversionsproc(ikFileVersionsProc proc) { state().about.fileVersionsProc = proc; }

int32_t showinfoboxW(const ikWChar* programName, const ikWChar* authors, ikWindow owner) {
    set(F::ProgName, in(programName));
    set(F::Authors, in(authors));
    // The box needs the host's application object; a host without one gets no box.
    if (QApplication::instance() == nullptr) return 0;
    AboutBox box(state().about, state().language, hostLog(), static_cast<QWidget*>(owner));
    return box.exec() == QDialog::Accepted ? 1 : 0;
}

int32_t showinfobox(const char* programName, const char* authors, ikWindow owner) {
    set(F::ProgName, in(programName));
    set(F::Authors, in(authors));
    return showinfoboxW(nullptr, nullptr, owner);
}

}  // extern "C"
