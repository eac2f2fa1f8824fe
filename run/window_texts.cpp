#include "run/window_texts.h"

#include "run/contact_run.h"

namespace dialmend {

std::string RunButtonTip(std::string_view verb, bool update) {
  std::string tip(verb);
  tip += update ? " update" : " simulation";
  return tip;
}

std::string RefusedContactsText(std::string_view chosen, std::string_view reason,
                                std::string_view current) {
  std::string text = "Cannot read contacts from \"";
  text.append(chosen).append("\": ").append(reason).append(".\nThe contacts are still those in \"");
  text.append(current).append("\".");
  return text;
}

std::string MissingLogFolderText(std::string_view path, std::string_view folder) {
  std::string text = "Cannot save the log to \"";
  text.append(path).append("\": the folder \"").append(folder);
  text.append("\" does not exist. Please choose another.");
  return text;
}

std::string ProfileProblemText(std::string_view place, std::string_view reason) {
  const bool names_place =
      !place.empty() && reason.find("\"" + std::string(place) + "\"") != std::string_view::npos;
#ifdef _WIN32
  // Outlook's profile keeps its two lines, with the reason after them.
  if (place.empty() || place == "Outlook") {
    return std::string(kProfileProblem) + "\n(" + std::string(reason) + ")";
  }
#endif
  // A reason that is a whole sentence of the store's own says it all.
  if (!reason.empty() && reason.front() >= 'A' && reason.front() <= 'Z') {
    std::string text(reason);
    if (!text.ends_with('.')) text += '.';
    return text;
  }
  std::string text = "Cannot open the contacts";
  if (!place.empty() && !names_place) text.append(" at \"").append(place).append("\"");
  text.append(": ").append(reason);
  if (!text.ends_with('.')) text += '.';
  return text;
}

std::string UndoQuestion(std::string_view started) {
  std::string text = "Undo the update of ";
  text.append(started).append(
      " - each number it changed is put back, unless it has been changed again since.\n\n"
      "Are you sure you want to undo the update?");
  return text;
}

}  // namespace dialmend
