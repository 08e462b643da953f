// A new user's first session, end to end: the sample file refuses NEW
// RECORD; then, on an empty data file of their own, three entries are added,
// found with the letter grid by surname and by name, one phone number is
// changed and one entry deleted. The data file is checked after every step.
#include "support/windows_fixture.h"

namespace velmora {
namespace {

using testing::RecordsOf;

class FirstUseTest : public testing::WindowsTest {
 protected:
  void Add(const char* name, const char* surname, const char* phone) {
    Menu("NEW RECORD");
    Type(kName, name);
    Type(kSurname, surname);
    Type(kPhone1, phone);
    Click(DoneButton());
  }
  void FindWithLetters(const char* letters, bool byName) {
    Menu("SEARCH/EDIT");
    for (const char* c = letters; *c; ++c) PickLetter(*c);
    (byName ? ByNameChoice() : BySurnameChoice())->click();
    Click(StartSearchButton());
  }
  std::vector<RecordTexts> Stored() {
    std::vector<RecordTexts> out;
    for (const auto& r : RecordsOf(Working())) out.push_back(r.Texts());
    return out;
  }
};

TEST_F(FirstUseTest, SampleRefusesThenOwnFileIsFilledSearchedEditedAndThinned) {
  Start({}, /*sample=*/true);
  Menu("NEW RECORD");
  ASSERT_EQ(dialogs.shown.size(), 1u);
  form2.reset();
  form1.reset();

  Start({});  // velmora.ini now names an empty FRIENDS.VLM
  EXPECT_EQ(form1->windowTitle(), "FRIENDS");
  Add("Mary", "Smith", "111");
  Add("John", "Smalley", "222");
  Add("Smiley", "Brown", "333");
  EXPECT_EQ(Stored(), (std::vector<RecordTexts>{{"Smiley", "Brown", "333", "", ""},
                                                {"John", "Smalley", "222", "", ""},
                                                {"Mary", "Smith", "111", "", ""}}));

  FindWithLetters("SM", /*byName=*/false);
  EXPECT_EQ(Column(1), (std::vector<QString>{"Smalley", "Smith"}));
  EXPECT_EQ(Counts(), "3/2");
  Click(BackButton());
  FindWithLetters("SM", /*byName=*/true);
  EXPECT_EQ(Column(0), (std::vector<QString>{"Smiley"}));

  Click(BackButton());
  FindWithLetters("S", /*byName=*/false);
  SelectRow(2);
  Click(EditButton());
  Type(kPhone1, "999");
  Click(DoneButton());
  EXPECT_EQ(Stored()[2], (RecordTexts{"Mary", "Smith", "999", "", ""}));

  RightClickRow(1);
  EXPECT_EQ(Stored(), (std::vector<RecordTexts>{{"Smiley", "Brown", "333", "", ""},
                                                {"Mary", "Smith", "999", "", ""}}));
  EXPECT_EQ(Column(1), (std::vector<QString>{"Smith"}));
  EXPECT_EQ(dialogs.shown.back().text, "You are about to delete the entry for John Smalley");
}

}  // namespace
}  // namespace velmora
