// COptions and CErrorsEncounteredDlg.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "com/objbase.h"
#include "fakehost.h"
#include "hda/opchda.h"
#include "outputpane/errorsdlg.h"
#include "outputpane/options.h"

namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

// ---- Options ----

class OptionsTest : public ::testing::Test {
protected:
    void Open() {
        dialog.m_pServerPane = &host;
        dialog.show();
    }
    QPushButton* Button(const char* name) { return dialog.findChild<QPushButton*>(QLatin1String(name)); }
    void Type(const char* keys) {
        dialog.GetEdit()->selectAll();
        QTest::keyClicks(dialog.GetEdit(), QLatin1String(keys));
    }

    FakeHost host;
    COptions dialog;
};

TEST_F(OptionsTest, LayoutTextsAndIdentifier) {
    Open();
    EXPECT_EQ(dialog.windowTitle(), Q("Options"));
    EXPECT_EQ(dialog.GetEdit()->property("controlId").toInt(), 1041);
    bool promptFound = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        promptFound = promptFound ||
                      label->text() ==
                          Q("Enter the maximum number of items to display.  Maximum is 99999, minimum is 0.");
    EXPECT_TRUE(promptFound);
    EXPECT_EQ(Button("IDOK")->text(), Q("OK"));
    EXPECT_TRUE(Button("IDOK")->isDefault());
    EXPECT_EQ(Button("IDCANCEL")->text(), Q("Cancel"));
}

TEST_F(OptionsTest, ShowsTheCurrentLimit) {
    Open();
    EXPECT_EQ(dialog.GetEdit()->text(), Q("1000"));
    EXPECT_EQ(dialog.GetEdit()->maxLength(), 5);
}

TEST_F(OptionsTest, OkStoresTheNumber) {
    Open();
    Type("250");
    QTest::mouseClick(Button("IDOK"), Qt::LeftButton);
    EXPECT_EQ(host.limit, 250u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(OptionsTest, AnEmptyBoxStoresZero) {
    Open();
    dialog.GetEdit()->clear();
    QTest::mouseClick(Button("IDOK"), Qt::LeftButton);
    EXPECT_EQ(host.limit, 0u);
}

TEST_F(OptionsTest, OnlyFiveDigitsAndNothingButDigitsGetIn) {
    Open();
    Type("123456");
    EXPECT_EQ(dialog.GetEdit()->text(), Q("12345"));
    Type("9-8a7 6");
    EXPECT_EQ(dialog.GetEdit()->text(), Q("9876"));
    dialog.GetEdit()->clear();
    dialog.GetEdit()->insert(Q("x42"));  // as a paste does
    EXPECT_EQ(dialog.GetEdit()->text(), QString());
    Type("99999");
    QTest::keyClick(dialog.GetEdit(), Qt::Key_Return);  // the default button
    EXPECT_EQ(host.limit, 99999u);
}

TEST_F(OptionsTest, CancelKeepsTheOldLimit) {
    Open();
    Type("7");
    QTest::mouseClick(Button("IDCANCEL"), Qt::LeftButton);
    EXPECT_EQ(host.limit, 1000u);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(Options, WithoutAServerPaneShowsZeroAndStoresNothing) {
    COptions dialog;
    dialog.show();
    EXPECT_EQ(dialog.GetEdit()->text(), Q("0"));
    dialog.GetEdit()->setText(Q("12"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(Options, LeadingDigitsAreTheNumber) {
    EXPECT_EQ(COptions::ParseLeadingDigits(QString()), 0u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("0")), 0u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("00042")), 42u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("99999")), 99999u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("12x4")), 12u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("x12")), 0u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("-5")), 0u);
    EXPECT_EQ(COptions::ParseLeadingDigits(Q("1234567")), 12345u);  // never more than the box holds
}

TEST(Options, RunOptionsDialogEditsTheServerPanesLimit) {
    FakeHost host;
    host.limit = 1000;
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<COptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shown = dialog->GetEdit()->text();
        dialog->GetEdit()->setText(Q("20"));
        dialog->findChild<QPushButton*>(QStringLiteral("IDOK"))->click();
    });
    EXPECT_EQ(RunOptionsDialog(&host), QDialog::Accepted);
    EXPECT_EQ(shown, Q("1000"));
    EXPECT_EQ(host.limit, 20u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// ---- Errors encountered ----

class ErrorsDialogTest : public ::testing::Test {
protected:
    void Fill(std::vector<HRESULT> errors) {
        dialog.m_errors = std::move(errors);
        dialog.m_itemIds = {u"Area1.Tank1", u"Area1.Tank2", u"Area1.Tank3"};
    }
    QTreeWidget* List() { return dialog.GetList(); }
    QStringList Row(int r) {
        QTreeWidgetItem* item = List()->topLevelItem(r);
        return item ? QStringList{item->text(0), item->text(1), item->text(2)} : QStringList{};
    }

    CErrorsEncounteredDlg dialog;
};

TEST_F(ErrorsDialogTest, CaptionTextsColumnsAndNoCloseBox) {
    Fill({S_OK});
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), Q("Errors Encountered Adding Items"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    QStringList texts;
    // A text too wide for the font at hand is elided on screen and whole in its tooltip.
    for (QLabel* label : dialog.findChildren<QLabel*>())
        texts << (label->toolTip().isEmpty() ? label->text() : label->toolTip());
    EXPECT_TRUE(texts.contains(
        Q("The operation completed successfully, but errors were encountered for some items")));
    EXPECT_TRUE(texts.contains(Q("The operation may not have been completed successfully for these items")));
    auto* close = dialog.findChild<QPushButton*>(QStringLiteral("IDOK"));
    EXPECT_EQ(close->text(), Q("&Close"));
    EXPECT_TRUE(close->isDefault());

    EXPECT_EQ(List()->property("controlId").toInt(), 1003);
    ASSERT_EQ(List()->columnCount(), 3);
    EXPECT_EQ(List()->headerItem()->text(0), Q("Item ID"));
    EXPECT_EQ(List()->headerItem()->text(1), Q("Result Code"));
    EXPECT_EQ(List()->headerItem()->text(2), Q("Error Description"));
    EXPECT_EQ(List()->columnWidth(0), 100);
    EXPECT_EQ(List()->columnWidth(1), 95);
    EXPECT_EQ(List()->columnWidth(2), 300);
    EXPECT_EQ(List()->topLevelItemCount(), 0);
}

TEST_F(ErrorsDialogTest, OnlyTheRefusedItemsAreListed) {
    Fill({S_OK, OPC_E_UNKNOWNITEMID, S_OK});
    dialog.show();
    ASSERT_EQ(List()->topLevelItemCount(), 1);
    EXPECT_EQ(Row(0), (QStringList{Q("Area1.Tank2"), Q("C0040007"), Q("Unknown Error")}));
}

TEST_F(ErrorsDialogTest, EveryNonZeroCodeWithItsDescription) {
    Fill({S_FALSE, OPC_E_INVALIDITEMID, E_FAIL});
    dialog.show();
    ASSERT_EQ(List()->topLevelItemCount(), 3);
    EXPECT_EQ(Row(0), (QStringList{Q("Area1.Tank1"), Q("1"), Q("Unknown Error")}));
    EXPECT_EQ(Row(1), (QStringList{Q("Area1.Tank2"), Q("C0040008"),
                                   Q("The item definition does not conform to the servers syntax")}));
    EXPECT_EQ(Row(2), (QStringList{Q("Area1.Tank3"), Q("80004005"), Q("Unknown Error")}));
    dialog.show();  // showing again adds nothing
    EXPECT_EQ(List()->topLevelItemCount(), 3);
}

TEST_F(ErrorsDialogTest, OneRowPerCodeHoweverManyIdsAndNoCodesListNothing) {
    Fill({E_FAIL, E_FAIL});
    dialog.show();
    EXPECT_EQ(List()->topLevelItemCount(), 2);

    CErrorsEncounteredDlg noErrors;
    noErrors.m_itemIds = {u"A", u"B"};
    noErrors.show();
    EXPECT_EQ(noErrors.GetList()->topLevelItemCount(), 0);
}

TEST_F(ErrorsDialogTest, AMissingItemIdIsAnEmptyCell) {
    Fill({S_OK, S_OK, S_OK, E_FAIL});
    dialog.show();
    ASSERT_EQ(List()->topLevelItemCount(), 1);
    EXPECT_EQ(Row(0), (QStringList{QString(), Q("80004005"), Q("Unknown Error")}));
}

TEST_F(ErrorsDialogTest, CloseAndEscapeBothClose) {
    Fill({E_FAIL});
    QTimer::singleShot(0, [&] { dialog.findChild<QPushButton*>(QStringLiteral("IDOK"))->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    QTimer::singleShot(0, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

}  // namespace
