#include "support/FakeMessages.h"

namespace kestrune::test {

void FakeMessages::error(const std::string& text)
{
    errors.push_back(text);
}

bool FakeMessages::confirm(const std::string& question, std::optional<ScreenPoint> position)
{
    questions.push_back(question);
    questionPositions.push_back(position);
    defaultNo.push_back(false);
    if (answers.empty())
        return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool FakeMessages::confirmDefaultNo(const std::string& question)
{
    const bool answer = confirm(question, std::nullopt);
    defaultNo.back() = true;
    return answer;
}

void FakeMessages::askParticle()
{
    ++particleRequests;
    if (onAskParticle)
        onAskParticle();
}

void FakeMessages::showList()
{
    ++listShows;
}

} // namespace kestrune::test
