// Studio's main window: the storyboard, the show's choices and tracks beside it, the project
// commands (New, Open, Save, Save As, recent projects) and Render. The show is a ShowProject;
// the window holds it while it is edited and hands it to the core to save, check and render.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <QUndoStack>

#include "app/run/show_project.h"
#include "studio/storyboard_model.h"
#include "studio/thumbnail_cache.h"
#include "studio/timeline_bar.h"
#include "studio/track_lengths.h"

class QAction;
class QMenu;

namespace lumivor::studio {

class PhotoInspector;
class PreviewPane;
class RenderDialog;
class ShowSettingsPanel;
class StoryboardView;
class TimelineBar;

// The show File > New starts from.
ShowProject NewStudioProject();

class StudioWindow : public QMainWindow {
 public:
  StudioWindow();
  ~StudioWindow() override;

  // The show as it stands: the storyboard's photos, the tracks and every choice.
  ShowProject Project() const;
  // The file the project was opened from or last saved to; empty for a new one.
  const QString& FileName() const { return fileName_; }
  // Edited since it was opened, saved or made.
  bool Modified() const;

  // Commands (each also runs from its menu item or key).
  void NewProject();
  // Asks about unsaved changes first; false when the project stays as it was.
  bool OpenProject(const QString& fileName);
  void OpenProjectDialog();
  bool Save();
  bool SaveAs(const QString& fileName);
  bool SaveAsDialog();
  void AddPhotosDialog();
  void AddPhotos(const std::vector<std::string>& files);
  void AddTracks(const std::vector<std::string>& tracks);
  void RemoveSelectedTracks();
  // The selected tracks one place earlier (step -1) or later (+1), as one edit.
  void MoveSelectedTracks(int step);
  void RemoveSelectedPhotos();
  void DuplicateSelectedPhotos();
  void RenderDialogShow();
  void About();

  // The recent projects, newest first.
  QStringList RecentProjects() const;
  // What the last open found that cannot be used (one line each); empty when all is there.
  const std::vector<std::string>& LastProblems() const { return lastProblems_; }

  StoryboardModel& Storyboard() { return *model_; }
  QUndoStack& Undo() { return undo_; }
  TrackLengths& Lengths() { return trackLengths_; }
  // Used by the undo commands: the show's choices and tracks (photos aside) become choices.
  void SetChoices(const ShowProject& choices, bool showControls);
  StoryboardView* storyboard;
  PreviewPane* preview;
  ShowSettingsPanel* settings;
  PhotoInspector* inspector;
  TimelineBar* timeline;
  QAction* actUndo;
  QAction* actRedo;
  QAction* actRemove;
  QAction* actDuplicate;
  QAction* actSave;

  // The questions and dialogs, which tests answer instead.
  std::function<QMessageBox::StandardButton(const QString& text)> AskToSave;
  std::function<void(const QString& caption, const QString& text)> Warn;
  std::function<QStringList()> ChoosePhotos;
  std::function<QStringList()> ChooseTracks;
  std::function<QString()> ChooseProjectToOpen;
  std::function<QString(const QString& suggested)> ChooseProjectToSave;
  // Called with the render dialog before it is shown (tests drive it and close it).
  std::function<void(RenderDialog&)> OnRenderDialog;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  // True when nothing unsaved would be lost: saved, or given up on the user's word.
  bool MayDiscardChanges();
  void LoadInto(const ShowProject& project, const QString& fileName);
  // The show's choices and tracks as one edit; edits of one spin box in a row (same mergeId, not
  // -1) are one undo step.
  void EditChoices(const ShowProject& after, int mergeId, const QString& text);
  void ShowTrackList();
  void UpdateTimeline();
  void UpdateTitle();
  void NoteRecent(const QString& fileName);
  void FillRecentMenu();

  QUndoStack undo_;
  ThumbnailCache thumbnails_;
  std::unique_ptr<StoryboardModel> model_;
  TrackLengths trackLengths_;
  BeatFigures beats_;
  // Everything but the photos, which the storyboard holds.
  ShowProject choices_;
  QString fileName_;
  std::vector<std::string> lastProblems_;
  QMenu* recentMenu_ = nullptr;
};

}  // namespace lumivor::studio
