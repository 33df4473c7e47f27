<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>LogViewDialog</name>
    <message>
        <source>Find</source>
        <translation>Rechercher</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>Journal</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>%1, firmware %2</source>
        <translation>%1, firmware %2</translation>
    </message>
    <message>
        <source>A copy of your settings from %1 (firmware %2) is kept. Bring it back?</source>
        <translation>Une copie de vos paramètres du %1 (firmware %2) est conservée. La rétablir ?</translation>
    </message>
    <message>
        <source>A copy of your settings is kept; it is offered when the adapter connects again.</source>
        <translation>Une copie de vos paramètres est conservée ; elle sera proposée à la prochaine connexion de l'adaptateur.</translation>
    </message>
    <message>
        <source>Backup read failure! Please try again.</source>
        <translation>Échec de la lecture de la sauvegarde ! Réessayez.</translation>
    </message>
    <message>
        <source>Bringing your settings back...</source>
        <translation>Rétablissement de vos paramètres...</translation>
    </message>
    <message>
        <source>Change log of this version</source>
        <translation>Journal des modifications de cette version</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Configuration lost! Please restore defaults!</source>
        <translation>Configuration perdue ! Veuillez restaurer les paramètres par défaut !</translation>
    </message>
    <message>
        <source>Connect HalVern M7 to PC while holding the button.</source>
        <translation>Branchez le HalVern M7 au PC en maintenant le bouton enfoncé.</translation>
    </message>
    <message>
        <source>Connect server error, will only use local cache firmware.</source>
        <translation>Connexion au serveur impossible, seuls les firmwares en cache seront utilisés.</translation>
    </message>
    <message>
        <source>Connected to the firmware server</source>
        <translation>Connecté au serveur de firmwares</translation>
    </message>
    <message>
        <source>Corrupted file/Unauthorized !</source>
        <translation>Fichier corrompu ou non autorisé !</translation>
    </message>
    <message>
        <source>Current Firmware Version</source>
        <translation>Version actuelle du firmware</translation>
    </message>
    <message>
        <source>Data restore needs firmware 5.5.0 or newer! Please update firmware.</source>
        <translation>La restauration des données nécessite le firmware 5.5.0 ou plus récent ! Mettez à jour le firmware.</translation>
    </message>
    <message>
        <source>Empty file or wrong version!</source>
        <translation>Fichier vide ou version incorrecte !</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Erase all data?</source>
        <translation>Effacer toutes les données ?</translation>
    </message>
    <message>
        <source>Erase flash failure!</source>
        <translation>Échec de l'effacement de la mémoire flash !</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <source>Firmware Files (*.bin *.hfw)</source>
        <translation>Fichiers de firmware (*.bin *.hfw)</translation>
    </message>
    <message>
        <source>Firmware Update Required</source>
        <translation>Mise à jour du firmware requise</translation>
    </message>
    <message>
        <source>Firmware data empty!</source>
        <translation>Fichier de firmware vide !</translation>
    </message>
    <message>
        <source>Firmware downloading...</source>
        <translation>Téléchargement du firmware…</translation>
    </message>
    <message>
        <source>Firmware file too large! Please choose another firmware.</source>
        <translation>Fichier de firmware trop volumineux ! Choisissez un autre firmware.</translation>
    </message>
    <message>
        <source>Firmware lost! Please update firmware!</source>
        <translation>Firmware perdu ! Veuillez mettre à jour le firmware !</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>Firmware : %1</translation>
    </message>
    <message>
        <source>French</source>
        <translation>Français</translation>
    </message>
    <message>
        <source>HalVern Firmware Tool</source>
        <translation>HalVern Firmware Tool</translation>
    </message>
    <message>
        <source>HalVern M7 is busy, please wait.</source>
        <translation>Le HalVern M7 est occupé, veuillez patienter.</translation>
    </message>
    <message>
        <source>Hardware failure!</source>
        <translation>Défaillance matérielle !</translation>
    </message>
    <message>
        <source>Invalid backup file! Please choose another backup.</source>
        <translation>Fichier de sauvegarde non valide ! Choisissez une autre sauvegarde.</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>日本語</translation>
    </message>
    <message>
        <source>Keeping a copy of the settings...</source>
        <translation>Sauvegarde d'une copie des paramètres...</translation>
    </message>
    <message>
        <source>New Firmware Version</source>
        <translation>Nouvelle version du firmware</translation>
    </message>
    <message>
        <source>No connection to the firmware server</source>
        <translation>Pas de connexion au serveur de firmwares</translation>
    </message>
    <message>
        <source>No copy of the settings could be kept, so nothing was changed! Please try again.</source>
        <translation>Aucune copie des paramètres n'a pu être conservée, rien n'a donc été modifié ! Veuillez réessayer.</translation>
    </message>
    <message>
        <source>Open Firmware</source>
        <translation>Ouvrir un firmware</translation>
    </message>
    <message>
        <source>Open a firmware file</source>
        <translation>Ouvrir un fichier de firmware</translation>
    </message>
    <message>
        <source>Release the button until the LED indicator is stable green.</source>
        <translation>Relâchez le bouton lorsque le voyant reste vert.</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restaurer les paramètres d'usine</translation>
    </message>
    <message>
        <source>Restored successfully!</source>
        <translation>Restauration réussie !</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>русский</translation>
    </message>
    <message>
        <source>SN: %1</source>
        <translation>N° de série : %1</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>Enregistrer le diagnostic</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>Fichiers texte (*.txt)</translation>
    </message>
    <message>
        <source>The adapter could not be read completely! Please plug it in again.</source>
        <translation>L'adaptateur n'a pas pu être lu entièrement ! Veuillez le rebrancher.</translation>
    </message>
    <message>
        <source>The adapter has factory settings; a copy of yours is kept.</source>
        <translation>L'adaptateur a les paramètres d'usine ; une copie des vôtres est conservée.</translation>
    </message>
    <message>
        <source>The adapter is attached, but another program is using it. Close that program, then plug the adapter in again.</source>
        <translation>L'adaptateur est branché, mais un autre programme l'utilise. Fermez ce programme, puis rebranchez l'adaptateur.</translation>
    </message>
    <message>
        <source>The adapter is attached, but it cannot be opened: %1</source>
        <translation>L'adaptateur est branché, mais il ne peut pas être ouvert : %1</translation>
    </message>
    <message>
        <source>The adapter is attached, but this user may not open it. Install the tool's package (or its udev rule), then plug the adapter in again.</source>
        <translation>L'adaptateur est branché, mais cet utilisateur n'a pas le droit de l'ouvrir. Installez le paquet de l'outil (ou sa règle udev), puis rebranchez l'adaptateur.</translation>
    </message>
    <message>
        <source>The backup file could not be written: %1</source>
        <translation>Impossible d'écrire le fichier de sauvegarde : %1</translation>
    </message>
    <message>
        <source>The file could not be written: %1</source>
        <translation>Le fichier n'a pas pu être écrit : %1</translation>
    </message>
    <message>
        <source>The file holds the tool's version and system, the adapter's identity, the catalog, this run's log and the last exchanges with the adapter, which include your settings as read. Send it only to whom you want to show them.</source>
        <translation>Le fichier contient la version de l'outil et du système, l'identité de l'adaptateur, le catalogue, le journal de cette exécution et les derniers échanges avec l'adaptateur, qui incluent vos paramètres tels que lus. Ne l'envoyez qu'à qui vous voulez les montrer.</translation>
    </message>
    <message>
        <source>The firmware %1 is not at hand. Open it with the file button, then press Restore Defaults to bring your settings back.</source>
        <translation>Le firmware %1 n'est pas disponible. Ouvrez-le avec le bouton fichier, puis appuyez sur Restaurer les paramètres d'usine pour rétablir vos paramètres.</translation>
    </message>
    <message>
        <source>The firmware downloaded and checksum error.</source>
        <translation>Erreur de somme de contrôle du firmware téléchargé.</translation>
    </message>
    <message>
        <source>The information of server error, contact HalVern for help.</source>
        <translation>Erreur des informations du serveur, contactez HalVern.</translation>
    </message>
    <message>
        <source>The network error, checking connect and retry.</source>
        <translation>Erreur réseau, vérifiez la connexion et réessayez.</translation>
    </message>
    <message>
        <source>This firmware uses the newer flash layout: the adapter is reset to factory defaults, then your settings are brought back from a copy. Continue?</source>
        <translation>Ce firmware utilise la nouvelle organisation de la mémoire flash : l'adaptateur est remis aux paramètres d'usine, puis vos paramètres sont rétablis depuis une copie. Continuer ?</translation>
    </message>
    <message>
        <source>This firmware uses the older flash layout: the adapter is reset to factory defaults and cannot take your macros. A copy of your settings is kept for a newer firmware. Continue?</source>
        <translation>Ce firmware utilise l'ancienne organisation de la mémoire flash : l'adaptateur est remis aux paramètres d'usine et ne peut pas garder vos macros. Une copie de vos paramètres est conservée pour un firmware plus récent. Continuer ?</translation>
    </message>
    <message>
        <source>Unknown device error %1!</source>
        <translation>Erreur d'appareil inconnue %1 !</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Mettre à jour le firmware</translation>
    </message>
    <message>
        <source>Update successfully!</source>
        <translation>Mise à jour réussie !</translation>
    </message>
    <message>
        <source>Version Change LOG</source>
        <translation>Journal des modifications</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Version : %1</translation>
    </message>
    <message>
        <source>Waring</source>
        <translation>Avertissement</translation>
    </message>
    <message>
        <source>When you first install HalVern Firmware Tool must connect network, and restart HalVern Firmware Tool.</source>
        <translation>Au premier lancement, HalVern Firmware Tool a besoin du réseau : connectez-vous et redémarrez-le.</translation>
    </message>
    <message>
        <source>Write flash failure! Please try again.</source>
        <translation>Échec de l'écriture de la mémoire flash ! Réessayez.</translation>
    </message>
    <message>
        <source>Your settings were kept.</source>
        <translation>Vos paramètres ont été conservés.</translation>
    </message>
    <message>
        <source>closing when the adapter is idle</source>
        <translation>fermeture dès que l’adaptateur sera libre</translation>
    </message>
    <message>
        <source>connect clould and sync information...</source>
        <translation>Connexion au serveur et synchronisation…</translation>
    </message>
    <message>
        <source>restore</source>
        <translation>Restauration</translation>
    </message>
    <message>
        <source>save backup</source>
        <translation>Sauvegarde</translation>
    </message>
    <message>
        <source>successfully!</source>
        <translation>Terminé avec succès !</translation>
    </message>
</context>
<context>
    <name>MessageDialog</name>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Notification</source>
        <translation>Notification</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restaurer les paramètres d'usine</translation>
    </message>
    <message>
        <source>Update Firmware</source>
        <translation>Mettre à jour le firmware</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>HalVern Firmware Tool is already running!</source>
        <translation>HalVern Firmware Tool est déjà lancé !</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Boot Mode(No Controller):</source>
        <translation>Mode de démarrage (sans manette) :</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Data Backup</source>
        <translation>Sauvegarde des données</translation>
    </message>
    <message>
        <source>Data Restore</source>
        <translation>Restauration des données</translation>
    </message>
    <message>
        <source>PS4(PC)</source>
        <translation>PS4(PC)</translation>
    </message>
    <message>
        <source>PS5(KOVALT)</source>
        <translation>PS5(KOVALT)</translation>
    </message>
    <message>
        <source>PS5(Q4)</source>
        <translation>PS5(Q4)</translation>
    </message>
    <message>
        <source>Restore Copy</source>
        <translation>Restaurer la copie</translation>
    </message>
    <message>
        <source>SWITCH</source>
        <translation>SWITCH</translation>
    </message>
    <message>
        <source>Save Diagnostics</source>
        <translation>Enregistrer le diagnostic</translation>
    </message>
    <message>
        <source>Show Log</source>
        <translation>Afficher le journal</translation>
    </message>
    <message>
        <source>UNDEFINE</source>
        <translation>[TBD]</translation>
    </message>
    <message>
        <source>XB360(PC)</source>
        <translation>XB360(PC)</translation>
    </message>
</context>
</TS>
