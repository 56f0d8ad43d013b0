#include "studio/studio_window.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QUndoCommand>
#include <QVBoxLayout>

#include "app/common/global_object.h"
#include "studio/photo_inspector.h"
#include "studio/preview_pane.h"
#include "studio/render_dialog.h"
#include "studio/settings_panel.h"
#include "studio/storyboard_view.h"
#include "studio/timeline_bar.h"

namespace lumivor::studio {
namespace {

constexpr int kRecentCount = 8;
const char* const kRecentKey = "recentProjects";

const char* const kPictureFilter = "Pictures (*.bmp *.BMP *.jpg *.JPG *.jpeg *.JPEG *.png *.PNG *.webp *.WEBP *.heic *.HEIC *.heif *.HEIF)";

QString project_filter() { return QStringLiteral("Lumivor projects (*%1)").arg(QString::fromLatin1(ShowProjectExtension)); }

std::vector<std::string> to_paths(const QStringList& list) {
  std::vector<std::string> paths;
  for (const QString& item : list) paths.push_back(item.toStdString());
  return paths;
}

// The show's choices and tracks before and after one edit.
class ChoicesCommand : public QUndoCommand {
 public:
  ChoicesCommand(StudioWindow& window, ShowProject before, ShowProject after, int mergeId, const QString& text)
      : QUndoCommand(text), window_(window), before_(std::move(before)), after_(std::move(after)), mergeId_(mergeId) {}
  void redo() override {
    // The first time, the control that made the edit already shows it; setting it again would
    // rewrite a number while it is being typed.
    window_.SetChoices(after_, !first_);
    first_ = false;
  }
  void undo() override { window_.SetChoices(before_, true); }
  int id() const override { return mergeId_; }
  bool mergeWith(const QUndoCommand* other) override {
    const auto* next = dynamic_cast<const ChoicesCommand*>(other);
    if (next == nullptr || next->mergeId_ != mergeId_) return false;
    after_ = next->after_;
    setObsolete(after_ == before_);
    return true;
  }

 private:
  StudioWindow& window_;
  ShowProject before_;
  ShowProject after_;
  int mergeId_;
  bool first_ = true;
};

}  // namespace

ShowProject NewStudioProject() {
  ShowProject project;
  // Tracks picked by hand rarely share a loudness; Studio levels them unless told not to. Only a
  // new show starts so: an opened one keeps what it says, and `make` keeps its own default.
  project.Normalize = true;
  return project;
}

StudioWindow::StudioWindow() : model_(std::make_unique<StoryboardModel>(thumbnails_, undo_)) {
  setObjectName(QStringLiteral("StudioWindow"));
  storyboard = new StoryboardView;
  storyboard->setModel(model_.get());
  storyboard->setIconSize(thumbnails_.Size());
  settings = new ShowSettingsPanel;
  inspector = new PhotoInspector(*model_);
  timeline = new TimelineBar;

  preview = new PreviewPane;
  preview->Project = [this] { return Project(); };
  // The beat is found where the music is joined for listening, once; the timeline shows it.
  preview->OnTempoChanged = [this](const QString& tempo) {
    beats_.Tempo = tempo;
    beats_.FittedFrames = tempo.isEmpty() ? 0 : preview->Show().FrameCount();
    UpdateTimeline();
  };
  auto* showSide = new QWidget;
  auto* showLayout = new QVBoxLayout(showSide);
  showLayout->setContentsMargins(0, 0, 0, 0);
  showLayout->addWidget(storyboard, 1);
  showLayout->addWidget(timeline);
  auto* showColumn = new QSplitter(Qt::Vertical);
  showColumn->addWidget(preview);
  showColumn->addWidget(showSide);
  auto* tabs = new QTabWidget;
  tabs->setObjectName(QStringLiteral("sideTabs"));
  tabs->addTab(settings, QStringLiteral("Show"));
  tabs->addTab(inspector, QStringLiteral("Photo"));
  auto* splitter = new QSplitter;
  splitter->addWidget(showColumn);
  splitter->addWidget(tabs);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 1);
  setCentralWidget(splitter);
  statusBar();

  AskToSave = [this](const QString& text) {
    return QMessageBox::question(this, QStringLiteral("Lumivor Studio"), text,
                                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  };
  Warn = [this](const QString& caption, const QString& text) { QMessageBox::warning(this, caption, text); };
  ChoosePhotos = [this] {
    return QFileDialog::getOpenFileNames(this, QStringLiteral("Add Photos"), QString(), QString::fromLatin1(kPictureFilter));
  };
  ChooseTracks = [this] {
    return QFileDialog::getOpenFileNames(this, QStringLiteral("Add Tracks"));
  };
  ChooseProjectToOpen = [this] {
    return QFileDialog::getOpenFileName(this, QStringLiteral("Open Project"), QString(), project_filter());
  };
  ChooseProjectToSave = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save Project"), suggested, project_filter());
  };

  model_->OnTracksDropped = [this](const std::vector<std::string>& tracks) { AddTracks(tracks); };
  settings->OnChanged = [this](ShowSettingsPanel::Control control) {
    ShowProject after = choices_;
    settings->ApplyChoices(after);
    EditChoices(after, settings->MergeId(control), QStringLiteral("Show Choice"));
  };
  settings->OnAddTracks = [this] {
    if (ChooseTracks) AddTracks(to_paths(ChooseTracks()));
  };
  settings->OnRemoveTracks = [this] { RemoveSelectedTracks(); };
  settings->OnMoveTracks = [this](int step) { MoveSelectedTracks(step); };
  trackLengths_.OnReady = [this](const std::string&) {
    ShowTrackList();
    UpdateTimeline();
  };
  // Every storyboard change reaches the inspector and the timeline: edits, undo and redo alike.
  // The inspector takes its rows from the selection again, since a move or an undo can put other
  // photos at the rows it had.
  const auto photosChanged = [this] {
    inspector->ShowRows(storyboard->SelectedRows());
    UpdateTimeline();
  };
  connect(model_.get(), &QAbstractItemModel::rowsInserted, this, photosChanged);
  connect(model_.get(), &QAbstractItemModel::rowsRemoved, this, photosChanged);
  connect(model_.get(), &QAbstractItemModel::layoutChanged, this, photosChanged);
  connect(model_.get(), &QAbstractItemModel::modelReset, this, photosChanged);
  connect(model_.get(), &QAbstractItemModel::dataChanged, this,
          [this, photosChanged](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            if (roles.contains(StoryboardModel::OwnChoicesRole)) photosChanged();
          });
  connect(storyboard->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { inspector->ShowRows(storyboard->SelectedRows()); });
  connect(&undo_, &QUndoStack::cleanChanged, this, [this] { UpdateTitle(); });

  BuildMenus();
  LoadInto(NewStudioProject(), QString());
  resize(1100, 700);
}

StudioWindow::~StudioWindow() {
  // The list goes before the model it shows, and no thumbnail reaches a model that has gone.
  delete preview;
  delete storyboard;
  storyboard = nullptr;
  thumbnails_.OnReady = nullptr;
}

void StudioWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(QStringLiteral("&New"), QKeySequence::New, this, [this] { NewProject(); });
  file->addAction(QStringLiteral("&Open…"), QKeySequence::Open, this, [this] { OpenProjectDialog(); });
  recentMenu_ = file->addMenu(QStringLiteral("Open &Recent"));
  connect(recentMenu_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  actSave = file->addAction(QStringLiteral("&Save"), QKeySequence::Save, this, [this] { Save(); });
  file->addAction(QStringLiteral("Save &As…"), QKeySequence::SaveAs, this, [this] { SaveAsDialog(); });
  file->addSeparator();
  file->addAction(QStringLiteral("&Render Video…"), QKeySequence(Qt::CTRL | Qt::Key_R), this, [this] { RenderDialogShow(); });
  file->addSeparator();
  file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, this, [this] { close(); });

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  actUndo = undo_.createUndoAction(this, QStringLiteral("&Undo"));
  actUndo->setShortcut(QKeySequence::Undo);
  actRedo = undo_.createRedoAction(this, QStringLiteral("&Redo"));
  actRedo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence::Redo});
  edit->addAction(actUndo);
  edit->addAction(actRedo);
  edit->addSeparator();
  edit->addAction(QStringLiteral("&Add Photos…"), QKeySequence(Qt::CTRL | Qt::Key_I), this, [this] { AddPhotosDialog(); });
  actDuplicate = edit->addAction(QStringLiteral("D&uplicate"), QKeySequence(Qt::CTRL | Qt::Key_D), this,
                                 [this] { DuplicateSelectedPhotos(); });
  actRemove = new QAction(QStringLiteral("&Remove"), this);
  actRemove->setShortcut(QKeySequence::Delete);
  // Delete removes photos only while the storyboard has the keys, never while a number is typed.
  actRemove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(actRemove, &QAction::triggered, this, [this] { RemoveSelectedPhotos(); });
  storyboard->addAction(actRemove);
  edit->addAction(actRemove);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("&About Lumivor Studio"), this, [this] { About(); });
}

ShowProject StudioWindow::Project() const {
  ShowProject project = choices_;
  project.Photos = model_->Photos();
  return project;
}

bool StudioWindow::Modified() const { return !undo_.isClean(); }

void StudioWindow::UpdateTitle() {
  const QString name = fileName_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(fileName_).fileName();
  setWindowTitle(QStringLiteral("%1[*] - Lumivor Studio").arg(name));
  setWindowModified(Modified());
}

void StudioWindow::LoadInto(const ShowProject& project, const QString& fileName) {
  undo_.clear();
  ShowProject choices = project;
  choices.Photos.clear();
  SetChoices(choices, true);
  model_->ResetPhotos(project.Photos);
  inspector->ShowRows({});
  fileName_ = fileName;
  UpdateTitle();
}

void StudioWindow::SetChoices(const ShowProject& choices, bool showControls) {
  choices_ = choices;
  choices_.Photos.clear();
  if (showControls) settings->ShowChoices(choices_);
  ShowTrackList();
  UpdateTimeline();
}

void StudioWindow::EditChoices(const ShowProject& after, int mergeId, const QString& text) {
  if (after == choices_) return;
  undo_.push(new ChoicesCommand(*this, choices_, after, mergeId, text));
}

void StudioWindow::ShowTrackList() {
  std::vector<QString> lengths;
  for (const std::string& track : choices_.Tracks) lengths.push_back(trackLengths_.Text(track));
  settings->ShowTracks(choices_.Tracks, lengths);
}

void StudioWindow::UpdateTimeline() {
  timeline->ShowFigures(MeasureTimeline(Project(), trackLengths_.Total(choices_.Tracks), beats_));
}

bool StudioWindow::MayDiscardChanges() {
  if (!Modified()) return true;
  const QString name = fileName_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(fileName_).fileName();
  switch (AskToSave(QStringLiteral("Save the changes to %1?").arg(name))) {
    case QMessageBox::Save: return Save();
    case QMessageBox::Discard: return true;
    default: return false;
  }
}

void StudioWindow::NewProject() {
  if (!MayDiscardChanges()) return;
  lastProblems_.clear();
  LoadInto(NewStudioProject(), QString());
}

bool StudioWindow::OpenProject(const QString& fileName) {
  if (!MayDiscardChanges()) return false;
  ShowProject project;
  std::string errorText;
  if (!LoadShowProject(fileName.toStdString(), project, errorText)) {
    Warn(QStringLiteral("Open Project"), QString::fromStdString(errorText));
    return false;
  }
  LoadInto(project, QFileInfo(fileName).absoluteFilePath());
  NoteRecent(fileName_);
  // The show opens as it is, so that what is missing can be put right in it; it says what that is.
  lastProblems_ = ShowProjectProblems(project);
  if (!lastProblems_.empty()) {
    QString text = QStringLiteral("Some of the show's files cannot be used:");
    for (const std::string& problem : lastProblems_) text += QStringLiteral("\n") + QString::fromStdString(problem);
    Warn(QStringLiteral("Project Problems"), text);
  }
  return true;
}

void StudioWindow::OpenProjectDialog() {
  if (!MayDiscardChanges()) return;
  const QString fileName = ChooseProjectToOpen ? ChooseProjectToOpen() : QString();
  if (!fileName.isEmpty()) OpenProject(fileName);
}

bool StudioWindow::Save() {
  if (fileName_.isEmpty()) return SaveAsDialog();
  return SaveAs(fileName_);
}

bool StudioWindow::SaveAs(const QString& fileName) {
  QString name = fileName;
  if (QFileInfo(name).suffix().isEmpty()) name += QString::fromLatin1(ShowProjectExtension);
  std::string errorText;
  if (!SaveShowProject(Project(), name.toStdString(), errorText)) {
    Warn(QStringLiteral("Save Project"), QString::fromStdString(errorText));
    return false;
  }
  fileName_ = QFileInfo(name).absoluteFilePath();
  undo_.setClean();
  NoteRecent(fileName_);
  UpdateTitle();
  return true;
}

bool StudioWindow::SaveAsDialog() {
  const QString suggested = fileName_.isEmpty() ? QDir::home().filePath(QStringLiteral("Untitled.lumivor")) : fileName_;
  const QString fileName = ChooseProjectToSave ? ChooseProjectToSave(suggested) : QString();
  if (fileName.isEmpty()) return false;
  return SaveAs(fileName);
}

void StudioWindow::AddPhotosDialog() {
  if (!ChoosePhotos) return;
  AddPhotos(to_paths(ChoosePhotos()));
}

void StudioWindow::AddPhotos(const std::vector<std::string>& files) {
  // After the current photo, or at the end when none is current.
  const QModelIndex current = storyboard->currentIndex();
  model_->AddPhotos(current.isValid() ? current.row() + 1 : model_->rowCount(), files);
}

void StudioWindow::AddTracks(const std::vector<std::string>& tracks) {
  if (tracks.empty()) return;
  ShowProject after = choices_;
  after.Tracks.insert(after.Tracks.end(), tracks.begin(), tracks.end());
  EditChoices(after, -1, tracks.size() == 1 ? QStringLiteral("Add Track") : QStringLiteral("Add Tracks"));
}

void StudioWindow::RemoveSelectedTracks() {
  const std::vector<int> rows = settings->SelectedTracks();
  if (rows.empty()) return;
  ShowProject after = choices_;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (static_cast<std::size_t>(*row) < after.Tracks.size()) after.Tracks.erase(after.Tracks.begin() + *row);
  }
  EditChoices(after, -1, rows.size() == 1 ? QStringLiteral("Remove Track") : QStringLiteral("Remove Tracks"));
}

void StudioWindow::MoveSelectedTracks(int step) {
  std::vector<int> rows = settings->SelectedTracks();
  const int count = static_cast<int>(choices_.Tracks.size());
  if (rows.empty() || (step < 0 && rows.front() == 0) || (step > 0 && rows.back() == count - 1)) return;
  ShowProject after = choices_;
  // Each selected track changes places with its neighbour on the side it moves to; taken from
  // that side first, so that a block of selected tracks moves as a block.
  const auto swap_with_next = [&after](int row) {
    std::swap(after.Tracks[static_cast<std::size_t>(row)], after.Tracks[static_cast<std::size_t>(row) + 1]);
  };
  if (step < 0) {
    for (int& row : rows) swap_with_next(--row);
  } else {
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) swap_with_next((*row)++);
  }
  EditChoices(after, -1, QStringLiteral("Move Tracks"));
  settings->SelectTracks(rows);
}

void StudioWindow::RemoveSelectedPhotos() { model_->RemoveRows(storyboard->SelectedRows()); }

void StudioWindow::DuplicateSelectedPhotos() { model_->DuplicateRows(storyboard->SelectedRows()); }

void StudioWindow::RenderDialogShow() {
  RenderDialog dialog(Project(), fileName_, this);
  dialog.OnOutputChosen = [this](int formatIndex, int width, int height) {
    ShowProject after = choices_;
    after.FormatIndex = formatIndex;
    after.Width = width;
    after.Height = height;
    EditChoices(after, -1, QStringLiteral("Video Format"));
  };
  if (OnRenderDialog) {
    OnRenderDialog(dialog);
    return;
  }
  dialog.exec();
}

void StudioWindow::About() {
  QMessageBox::about(this, QStringLiteral("About Lumivor Studio"),
                     QStringLiteral("<b>Lumivor Studio</b> %1<p>Photo slideshows made into videos: put the photos in "
                                    "order, choose how they are shown and which music plays, and render.</p>")
                         .arg(QString::fromStdString(GlobalObject().VersionText())));
}

QStringList StudioWindow::RecentProjects() const {
  return QSettings().value(QString::fromLatin1(kRecentKey)).toStringList();
}

void StudioWindow::NoteRecent(const QString& fileName) {
  QStringList recent = RecentProjects();
  recent.removeAll(fileName);
  recent.prepend(fileName);
  while (recent.size() > kRecentCount) recent.removeLast();
  QSettings().setValue(QString::fromLatin1(kRecentKey), recent);
}

void StudioWindow::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList recent = RecentProjects();
  for (const QString& fileName : recent) {
    recentMenu_->addAction(QFileInfo(fileName).fileName(), this, [this, fileName] { OpenProject(fileName); })
        ->setToolTip(fileName);
  }
  recentMenu_->setEnabled(true);
  if (recent.isEmpty()) recentMenu_->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

void StudioWindow::closeEvent(QCloseEvent* event) {
  if (MayDiscardChanges()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace lumivor::studio
