<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR">
<context>
    <name>Consumer</name>
    <message>
        <source>no file name</source>
        <translation>nenhum nome de arquivo</translation>
    </message>
    <message>
        <source>there is no picture yet</source>
        <translation>ainda não há imagem</translation>
    </message>
    <message>
        <source>could not write %1</source>
        <translation>não foi possível gravar %1</translation>
    </message>
</context>
<context>
    <name>DefishControls</name>
    <message>
        <source>Name</source>
        <translation>Nome</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Modo</translation>
    </message>
    <message>
        <source>Perspective</source>
        <translation>Perspectiva</translation>
    </message>
    <message>
        <source>360° panorama</source>
        <translation>Panorama de 360°</translation>
    </message>
    <message>
        <source>Double 180° panorama</source>
        <translation>Panorama duplo de 180°</translation>
    </message>
    <message>
        <source>Quad</source>
        <translation>Quádruplo</translation>
    </message>
    <message>
        <source>180° panorama</source>
        <translation>Panorama de 180°</translation>
    </message>
    <message>
        <source>Mount</source>
        <translation>Montagem</translation>
    </message>
    <message>
        <source>Ceiling</source>
        <translation>Teto</translation>
    </message>
    <message>
        <source>Wall</source>
        <translation>Parede</translation>
    </message>
    <message>
        <source>Floor</source>
        <translation>Chão</translation>
    </message>
    <message>
        <source>How the camera hangs: views stay upright for it</source>
        <translation>Como a câmera está montada: as vistas ficam em pé para ela</translation>
    </message>
    <message>
        <source>Params</source>
        <translation>Parâmetros</translation>
    </message>
    <message>
        <source>Quarter</source>
        <translation>Quadrante</translation>
    </message>
    <message>
        <source>Top left</source>
        <translation>Superior esquerdo</translation>
    </message>
    <message>
        <source>Top right</source>
        <translation>Superior direito</translation>
    </message>
    <message>
        <source>Bottom left</source>
        <translation>Inferior esquerdo</translation>
    </message>
    <message>
        <source>Bottom right</source>
        <translation>Inferior direito</translation>
    </message>
    <message>
        <source>Azimuth</source>
        <translation>Azimute</translation>
    </message>
    <message>
        <source>Upper edge</source>
        <translation>Borda superior</translation>
    </message>
    <message>
        <source>Lower edge</source>
        <translation>Borda inferior</translation>
    </message>
    <message>
        <source>Roll</source>
        <translation>Rotação</translation>
    </message>
    <message>
        <source>Tilt</source>
        <translation>Inclinação</translation>
    </message>
    <message>
        <source>Pan</source>
        <translation>Giro</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>Camera specs (global)</source>
        <translation>Especificações da câmera (globais)</translation>
    </message>
    <message>
        <source>Center X</source>
        <translation>Centro X</translation>
    </message>
    <message>
        <source>(%1 px)</source>
        <translation>(%1 px)</translation>
    </message>
    <message>
        <source>Center Y</source>
        <translation>Centro Y</translation>
    </message>
    <message>
        <source>Radius</source>
        <translation>Raio</translation>
    </message>
    <message>
        <source>FOV</source>
        <translation>Campo de visão</translation>
    </message>
    <message>
        <source>Projection</source>
        <translation>Projeção</translation>
    </message>
    <message>
        <source>Equidistant</source>
        <translation>Equidistante</translation>
    </message>
    <message>
        <source>Equisolid</source>
        <translation>Equissólida</translation>
    </message>
    <message>
        <source>Stereographic</source>
        <translation>Estereográfica</translation>
    </message>
    <message>
        <source>Orthographic</source>
        <translation>Ortográfica</translation>
    </message>
</context>
<context>
    <name>ElementDefish</name>
    <message>
        <source>Graphics</source>
        <translation>Imagens</translation>
    </message>
    <message>
        <source>Source pixels per view pixel: %1 at the centre, %2 at the edges</source>
        <translation>Pixels de origem por pixel da visualização: %1 no centro, %2 nas bordas</translation>
    </message>
    <message>
        <source>Snapshot not saved: %1</source>
        <translation>Captura não salva: %1</translation>
    </message>
    <message>
        <source>Snapshot saved to %1</source>
        <translation>Captura salva em %1</translation>
    </message>
    <message>
        <source>Save the dewarped picture</source>
        <translation>Salvar a imagem corrigida</translation>
    </message>
    <message>
        <source>PNG pictures (*.png)</source>
        <translation>Imagens PNG (*.png)</translation>
    </message>
    <message>
        <source>Fit lens</source>
        <translation>Ajustar lente</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Capturar</translation>
    </message>
    <message>
        <source>Snapshot as...</source>
        <translation>Capturar como...</translation>
    </message>
    <message>
        <source>This desktop offers no file dialog: &quot;Snapshot&quot; saves into %1</source>
        <translation>Este ambiente não oferece diálogo de arquivos: &quot;Capturar&quot; salva em %1</translation>
    </message>
    <message>
        <source>Served at %1×%2</source>
        <translation>Transmitido em %1×%2</translation>
    </message>
</context>
<context>
    <name>EventServer</name>
    <message>
        <source>Code: %1</source>
        <translation>Código: %1</translation>
    </message>
</context>
<context>
    <name>LensFitter</name>
    <message>
        <source>no video frames arrived within %1 s</source>
        <translation>nenhum quadro de vídeo chegou em %1 s</translation>
    </message>
    <message>
        <source>the video source changed</source>
        <translation>a fonte de vídeo mudou</translation>
    </message>
    <message>
        <source>there is no video source</source>
        <translation>não há fonte de vídeo</translation>
    </message>
    <message>
        <source>Looking for the lens circle...</source>
        <translation>Procurando o círculo da lente...</translation>
    </message>
    <message>
        <source>Lens circle found: centre %1, %2 px, radius %3 px</source>
        <translation>Círculo da lente encontrado: centro %1, %2 px, raio %3 px</translation>
    </message>
    <message>
        <source>No lens circle found: %1</source>
        <translation>Nenhum círculo da lente encontrado: %1</translation>
    </message>
</context>
<context>
    <name>LocalDatabase</name>
    <message>
        <source>SQLite is not available</source>
        <translation>O SQLite não está disponível</translation>
    </message>
    <message>
        <source>a save is already running</source>
        <translation>já há um salvamento em andamento</translation>
    </message>
    <message>
        <source>objects.data is not open</source>
        <translation>objects.data não está aberto</translation>
    </message>
    <message>
        <source>the stored gateways, streams and views could not be read from objects.data, and a save would replace them</source>
        <translation>não foi possível ler de objects.data os gateways, fluxos e visualizações armazenados, e salvar os substituiria</translation>
    </message>
    <message>
        <source>the objects were not fetched from the event server</source>
        <translation>os objetos não foram obtidos do servidor de eventos</translation>
    </message>
    <message>
        <source>the saved views are still being restored</source>
        <translation>as visualizações salvas ainda estão sendo restauradas</translation>
    </message>
    <message>
        <source>objects.data was written by a newer Quillon (file format %1; this version reads up to %2); it is left as it is</source>
        <translation>objects.data foi gravado por um Quillon mais novo (formato de arquivo %1; esta versão lê até o %2); ele é mantido como está</translation>
    </message>
    <message>
        <source>objects.data is being read already</source>
        <translation>objects.data já está sendo lido</translation>
    </message>
    <message>
        <source>this session is read-only: %1</source>
        <translation>esta sessão é somente leitura: %1</translation>
    </message>
    <message>
        <source>objects.data is not open: %1</source>
        <translation>objects.data não está aberto: %1</translation>
    </message>
</context>
<context>
    <name>ProcessManager</name>
    <message>
        <source>The server program %1 does not exist or cannot be run.</source>
        <translation>O programa do servidor %1 não existe ou não pode ser executado.</translation>
    </message>
    <message>
        <source>The server program &quot;%1&quot; is neither beside %2 nor on PATH.</source>
        <translation>O programa do servidor &quot;%1&quot; não está ao lado de %2 nem no PATH.</translation>
    </message>
    <message>
        <source>The server program %1 cannot be started: %2</source>
        <translation>O programa do servidor %1 não pode ser iniciado: %2</translation>
    </message>
    <message>
        <source>The server crashed.</source>
        <translation>O servidor terminou de forma anormal.</translation>
    </message>
    <message>
        <source>The server crashed: %1</source>
        <translation>O servidor terminou de forma anormal: %1</translation>
    </message>
    <message>
        <source>%1 It crashed %2 times in a row soon after starting; not restarted again.</source>
        <translation>%1 Ele terminou de forma anormal %2 vezes seguidas logo após iniciar; não será reiniciado de novo.</translation>
    </message>
    <message>
        <source>The server ended with exit code %1.</source>
        <translation>O servidor terminou com o código de saída %1.</translation>
    </message>
    <message>
        <source>The server ended with exit code %1: %2</source>
        <translation>O servidor terminou com o código de saída %1: %2</translation>
    </message>
    <message>
        <source>The server&apos;s status channel cannot be opened: %1</source>
        <translation>O canal de estado do servidor não pode ser aberto: %1</translation>
    </message>
</context>
<context>
    <name>Producer</name>
    <message>
        <source>nothing that decodes arrived within %1 s</source>
        <translation>nenhum dado decodificável chegou em %1 s</translation>
    </message>
    <message>
        <source>No picture: %1</source>
        <translation>Sem imagem: %1</translation>
    </message>
    <message>
        <source>No picture: %1
Trying again in %2 s</source>
        <translation>Sem imagem: %1
Nova tentativa em %2 s</translation>
    </message>
    <message>
        <source>Source stopped: no new picture for %1 s; the last one received is shown</source>
        <translation>Fonte parada: nenhuma imagem nova há %1 s; a última recebida continua na tela</translation>
    </message>
</context>
<context>
    <name>RepoObjViews</name>
    <message>
        <source>%1 copy</source>
        <translation>%1 cópia</translation>
    </message>
    <message>
        <source>%1 copy %2</source>
        <translation>%1 cópia %2</translation>
    </message>
</context>
<context>
    <name>ServerController</name>
    <message>
        <source>Not saved: there is no database</source>
        <translation>Não salvo: não há banco de dados</translation>
    </message>
    <message>
        <source>Not saved: %1</source>
        <translation>Não salvo: %1</translation>
    </message>
    <message>
        <source>Saving failed: %1</source>
        <translation>Falha ao salvar: %1</translation>
    </message>
    <message>
        <source>waiting for the server</source>
        <translation>aguardando o servidor</translation>
    </message>
    <message>
        <source>the server does not serve it; see its log</source>
        <translation>o servidor não a serve; veja o log dele</translation>
    </message>
    <message>
        <source>the server is not running</source>
        <translation>o servidor não está em execução</translation>
    </message>
    <message>
        <source>view not ticked</source>
        <translation>visualização não marcada</translation>
    </message>
    <message>
        <source>its stream has no address yet</source>
        <translation>o fluxo dela ainda não tem endereço</translation>
    </message>
    <message>
        <source>its stream is switched off</source>
        <translation>o fluxo dela está desligado</translation>
    </message>
    <message>
        <source>its stream&apos;s gateway is unknown</source>
        <translation>o gateway do fluxo dela é desconhecido</translation>
    </message>
    <message>
        <source>its gateway is switched off</source>
        <translation>o gateway dela está desligado</translation>
    </message>
    <message>
        <source>its stream is not a fisheye stream</source>
        <translation>o fluxo dela não é olho de peixe</translation>
    </message>
    <message>
        <source>the lens of its stream is not set</source>
        <translation>a lente do fluxo dela não está definida</translation>
    </message>
    <message>
        <source>its zoom is not between 0 and 180 degrees</source>
        <translation>o zoom dela não está entre 0 e 180 graus</translation>
    </message>
</context>
<context>
    <name>ServerStatusChannel</name>
    <message>
        <source>stream %1: %2</source>
        <translation>fluxo %1: %2</translation>
    </message>
    <message>
        <source>view “%1” of stream %2: %3</source>
        <translation>visualização “%1” do fluxo %2: %3</translation>
    </message>
</context>
<context>
    <name>StreamRow</name>
    <message>
        <source>Add view</source>
        <translation>Adicionar visualização</translation>
    </message>
</context>
<context>
    <name>ViewEditor</name>
    <message>
        <source>The view “%1” no longer exists; Ok stores a new view.</source>
        <translation>A visualização “%1” não existe mais; Ok armazena uma nova visualização.</translation>
    </message>
    <message>
        <source>The view “%1” no longer exists.</source>
        <translation>A visualização “%1” não existe mais.</translation>
    </message>
    <message>
        <source>The stream of this view is gone: nothing was stored.</source>
        <translation>O fluxo desta visualização não existe mais: nada foi armazenado.</translation>
    </message>
    <message>
        <source>Type a name for the view.</source>
        <translation>Digite um nome para a visualização.</translation>
    </message>
    <message>
        <source>The stream has a view named “%1” already: choose another name.</source>
        <translation>O fluxo já tem uma visualização chamada “%1”: escolha outro nome.</translation>
    </message>
    <message>
        <source>The view “%1” could not be updated.</source>
        <translation>Não foi possível atualizar a visualização “%1”.</translation>
    </message>
</context>
<context>
    <name>ViewRow</name>
    <message>
        <source>Edit</source>
        <translation>Editar</translation>
    </message>
    <message>
        <source>Duplicate</source>
        <translation>Duplicar</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Excluir</translation>
    </message>
</context>
<context>
    <name>WinDefish</name>
    <message>
        <source>Defish</source>
        <translation>Correção de olho de peixe</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Editing view “%1”</source>
        <translation>Editando a visualização “%1”</translation>
    </message>
    <message>
        <source>New view</source>
        <translation>Nova visualização</translation>
    </message>
    <message>
        <source>The changes to this view are not stored. Switch to “%1” and drop them?</source>
        <translation>As alterações desta visualização não foram armazenadas. Mudar para “%1” e descartá-las?</translation>
    </message>
    <message>
        <source>Switch</source>
        <translation>Mudar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
</context>
<context>
    <name>WinLogin</name>
    <message>
        <source>Login</source>
        <translation>Entrar</translation>
    </message>
    <message>
        <source>All fields are required!</source>
        <translation>Todos os campos são obrigatórios!</translation>
    </message>
    <message>
        <source>The stored gateways, streams and views could not be read from objects.data:
%1

Retry, or continue read-only: nothing will be saved in this session.</source>
        <translation>Não foi possível ler de objects.data os gateways, fluxos e visualizações armazenados:
%1

Tente de novo ou continue somente para leitura: nada será salvo nesta sessão.</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>Endereço</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Porta</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>Usuário</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Senha</translation>
    </message>
    <message>
        <source>Remember credentials</source>
        <translation>Lembrar credenciais</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Sair</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Tentar de novo</translation>
    </message>
    <message>
        <source>Continue read-only</source>
        <translation>Continuar somente leitura</translation>
    </message>
    <message>
        <source>Connect error: %1</source>
        <translation>Erro de conexão: %1</translation>
    </message>
    <message>
        <source>Login error: %1</source>
        <translation>Erro ao entrar: %1</translation>
    </message>
    <message>
        <source>Lost connection to ES</source>
        <translation>Conexão com o ES perdida</translation>
    </message>
    <message>
        <source>Reading objects.data…</source>
        <translation>Lendo objects.data…</translation>
    </message>
</context>
<context>
    <name>WinMessage</name>
    <message>
        <source>Close</source>
        <translation>Fechar</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Quillon</source>
        <translation>Quillon</translation>
    </message>
    <message>
        <source>Fetching the objects failed: %1</source>
        <translation>Falha ao obter os objetos: %1</translation>
    </message>
    <message>
        <source>Lost connection to ES</source>
        <translation>Conexão com o ES perdida</translation>
    </message>
    <message>
        <source>Gateways</source>
        <translation>Gateways</translation>
    </message>
    <message>
        <source>Streams</source>
        <translation>Fluxos</translation>
    </message>
    <message>
        <source>Server: %1 Restart %2 in %3 s.</source>
        <translation>Servidor: %1 Reinício nº %2 em %3 s.</translation>
    </message>
    <message>
        <source>Server: starting</source>
        <translation>Servidor: iniciando</translation>
    </message>
    <message>
        <source>Server: running, restarted %1 times</source>
        <translation>Servidor: em execução, reiniciado %1 vezes</translation>
    </message>
    <message>
        <source>Server: running</source>
        <translation>Servidor: em execução</translation>
    </message>
    <message>
        <source>Server: failed. %1</source>
        <translation>Servidor: falhou. %1</translation>
    </message>
    <message>
        <source>Server: stopped</source>
        <translation>Servidor: parado</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Salvar</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Parar</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Iniciar</translation>
    </message>
    <message>
        <source>Delete the view “%1” of stream %2? It leaves objects.data at the next Save.</source>
        <translation>Excluir a visualização “%1” do fluxo %2? Ela sai de objects.data no próximo Salvar.</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Excluir</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>The view “%1” could not be deleted.</source>
        <translation>Não foi possível excluir a visualização “%1”.</translation>
    </message>
    <message>
        <source>There are unsaved changes. Save them before closing?</source>
        <translation>Há alterações não salvas. Salvá-las antes de fechar?</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Descartar</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Idioma</translation>
    </message>
    <message>
        <source>Saved %1 gateways, %2 streams, %3 views at %4</source>
        <translation>Salvos %1 gateways, %2 fluxos e %3 visualizações às %4</translation>
    </message>
    <message>
        <source>There are unsaved changes</source>
        <translation>Há alterações não salvas</translation>
    </message>
    <message>
        <source>(read-only)</source>
        <translation>(somente leitura)</translation>
    </message>
    <message>
        <source>Reconnecting failed: %1</source>
        <translation>Falha ao reconectar: %1</translation>
    </message>
    <message>
        <source>Reconnect</source>
        <translation>Reconectar</translation>
    </message>
    <message>
        <source>Serving %1 of %2 stored views</source>
        <translation>Servindo %1 de %2 visualizações salvas</translation>
    </message>
    <message>
        <source>%1 stored views</source>
        <translation>%1 visualizações salvas</translation>
    </message>
    <message>
        <source>Filter views by name or stream</source>
        <translation>Filtrar visualizações por nome ou fluxo</translation>
    </message>
    <message>
        <source>%1 / %2: %3</source>
        <translation>%1 / %2: %3</translation>
    </message>
    <message>
        <source>Read-only: nothing is saved in this session. %1</source>
        <translation>Somente leitura: nada é salvo nesta sessão. %1</translation>
    </message>
</context>
</TS>
