#include "operator_dialogue.h"

#include "arguments.h"
#include "popup/popup.h"

QueryArguments ReadQueryArguments(int argc, char** argv) {
    return {argv[1], argv[2], argv[3], argv[4], SplitPortSpec(argv[5]),
            NumberArgument(argc > 6 ? argv[6] : nullptr, 2.0)};
}

int AskOperator(const char* question, const char* message, int& status) {
    int t = 0;
    if (message != nullptr && message[0] != '!') status = MessagePopup("Message", message);
    if (status == 0) {
        status = 1;
        t = 1;
    }
    if (question[0] != '!') {
        status = ConfirmPopup("Question", question);
        t = status == 1 ? 1 : 0;
    }
    return t;
}
