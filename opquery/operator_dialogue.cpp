#include "operator_dialogue.h"

#include "popup.h"

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
