// The Simple MAPI records and the seam that replaces the mail functions.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/mail.h"

namespace {

// The published field order, with the natural alignment of the platform's
// ABI: both backends lay the records out as <mapi.h> does on Win64.
TEST(MailRecords, FieldsInThePublishedOrder) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "offsets below are for 64-bit targets";
    EXPECT_EQ(offsetof(MapiFileDesc, ulReserved), 0u);
    EXPECT_EQ(offsetof(MapiFileDesc, flFlags), 4u);
    EXPECT_EQ(offsetof(MapiFileDesc, nPosition), 8u);
    EXPECT_EQ(offsetof(MapiFileDesc, lpszPathName), 16u);
    EXPECT_EQ(offsetof(MapiFileDesc, lpszFileName), 24u);
    EXPECT_EQ(offsetof(MapiFileDesc, lpFileType), 32u);
    EXPECT_EQ(sizeof(MapiFileDesc), 40u);

    EXPECT_EQ(offsetof(MapiRecipDesc, ulRecipClass), 4u);
    EXPECT_EQ(offsetof(MapiRecipDesc, lpszName), 8u);
    EXPECT_EQ(offsetof(MapiRecipDesc, lpszAddress), 16u);
    EXPECT_EQ(offsetof(MapiRecipDesc, ulEIDSize), 24u);
    EXPECT_EQ(offsetof(MapiRecipDesc, lpEntryID), 32u);
    EXPECT_EQ(sizeof(MapiRecipDesc), 40u);

    EXPECT_EQ(offsetof(MapiMessage, lpszSubject), 8u);
    EXPECT_EQ(offsetof(MapiMessage, lpszNoteText), 16u);
    EXPECT_EQ(offsetof(MapiMessage, lpszMessageType), 24u);
    EXPECT_EQ(offsetof(MapiMessage, lpszDateReceived), 32u);
    EXPECT_EQ(offsetof(MapiMessage, lpszConversationID), 40u);
    EXPECT_EQ(offsetof(MapiMessage, flFlags), 48u);
    EXPECT_EQ(offsetof(MapiMessage, lpOriginator), 56u);
    EXPECT_EQ(offsetof(MapiMessage, nRecipCount), 64u);
    EXPECT_EQ(offsetof(MapiMessage, lpRecips), 72u);
    EXPECT_EQ(offsetof(MapiMessage, nFileCount), 80u);
    EXPECT_EQ(offsetof(MapiMessage, lpFiles), 88u);
    EXPECT_EQ(sizeof(MapiMessage), 96u);
    EXPECT_EQ(MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG, 11);
}

bool yes() { return true; }
platform::MailLibrary fakeLoad() { return reinterpret_cast<platform::MailLibrary>(0x1234); }
LPMAPISENDMAIL noEntry(platform::MailLibrary) { return nullptr; }
bool noUnload(platform::MailLibrary) { return false; }

TEST(MailSystem, TestsReplaceTheFunctionsAndPutThemBack) {
    const platform::MailSystem fake{yes, fakeLoad, noEntry, noUnload};
    EXPECT_EQ(&platform::mailSystem(), &platform::realMailSystem());
    platform::setMailSystem(&fake);
    EXPECT_EQ(platform::mailSystem().load(), fakeLoad());
    EXPECT_EQ(&platform::mailSystem(), &fake);
    platform::setMailSystem(nullptr);
    EXPECT_EQ(&platform::mailSystem(), &platform::realMailSystem());
}

}  // namespace
